// rvk: a small command-line host that drives the library through its public interface only.
//
//   rvk init [DIR]      create a repository in DIR (default: the current folder)
//   rvk where [DIR]     find the repository that contains DIR and print its paths
//   rvk relpath PATH    print PATH relative to the root of the repository that contains it
//
// Exit codes: 0 success, 1 a user error (message printed), 2 bad usage.
#include <common/RootPath.h>
#include <platform/FileName.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

OdString fromArg(const char* arg) {
    return OdString(arg, kCodePageUtf8);
}

void print(const char* label, const OdString& value) {
    std::printf("%-10s %s\n", label, value.ansi_str());
}

int fail(const ErrorMessage& error) {
    std::fprintf(stderr, "rvk: %s\n", error.message.ansi_str());
    return 1;
}

int usage() {
    std::fprintf(stderr, "usage: rvk init [DIR] | rvk where [DIR] | rvk relpath PATH\n");
    return 2;
}

OdString folderArg(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::vector<char> buffer(4096);
        return ::getcwd(buffer.data(), buffer.size()) ? fromArg(buffer.data()) : OdString(L".");
    }
    return fromArg(args[0].c_str());
}

int init(const std::vector<std::string>& args) {
    const auto root = common::RootPath::get(folderArg(args), true);
    if (!root.hasValue())
        return fail(root.error());
    print("created", root.value().rvkPath());
    return 0;
}

int where(const std::vector<std::string>& args) {
    const auto found = common::RootPath::get(folderArg(args), false);
    if (!found.hasValue())
        return fail(found.error());
    const common::RootPath& root = found.value();
    print("root", root.path());
    print("rvk", root.rvkPath());
    print("state", root.statePath());
    print("db", root.dbPath());
    print("properties", root.propertiesPath());
    return 0;
}

int relpath(const std::vector<std::string>& args) {
    if (args.size() != 1)
        return usage();
    const OdString full = ut::FileName(fromArg(args[0].c_str())).getFullPath();
    const int cut = full.reverseFind(ut::FileName::getPathSeparator()[0]);
    const auto found = common::RootPath::get(cut > 0 ? full.left(cut) : full, false);
    if (!found.hasValue())
        return fail(found.error());
    const auto relative = found.value().relativePathTo(full);
    if (!relative.hasValue())
        return fail(relative.error());
    std::printf("%s\n", relative.value().ansi_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "init" && args.size() <= 1)
        return init(args);
    if (command == "where" && args.size() <= 1)
        return where(args);
    if (command == "relpath")
        return relpath(args);
    return usage();
}
