// A host that knows nothing of rvk-core's sources: through rvk::client alone it makes a shared
// repository on a server (as ADMIN), clones it, adds a drawing, commits and pushes it, and takes
// the drawing's lock, saying what each step did.
//   kit_consumer ADMIN CONNINFO FOLDER
#include <cstdio>
#include <fstream>
#include <string>

#include <client/LocalOperations.h>
#include <client/SharedOperations.h>
#include <client/Text.h>
#include <platform/FileName.h>

namespace {

// This host merges nothing, and hears the state file's outcomes through the kit's errors.
class Io final : public common::IoInterface {
public:
    int check(const OdString&) const override { return 0; }
    void report(Expected<void>) const override {}
};

class Notes final : public client::Reporter {
public:
    void note(const ErrorMessage& note) override {
        std::fprintf(stderr, "note: %s\n", client::utf8(note.message).c_str());
    }
};

int failed(const char* step, const ErrorMessage& error) {
    std::fprintf(stderr, "%s failed: %s\n", step, client::utf8(error.message).c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: kit_consumer ADMIN CONNINFO FOLDER\n");
        return 2;
    }
    Io io;
    Notes notes;
    const auto created = client::createServer(argv[1], notes);
    if (!created.hasValue())
        return failed("create", created.error());
    std::printf("created a shared repository\n");
    const auto here = client::currentFolder();
    if (!here.hasValue())
        return failed("current folder", here.error());
    const OdString folder = ut::FileName(OdString(argv[3], kCodePageUtf8)).getFullPath();
    client::Session session{io, notes, here.value()};
    const auto cloned = client::clone(session, argv[2], folder);
    if (!cloned.hasValue())
        return failed("clone", cloned.error());
    std::printf("cloned: HEAD is commit %llu\n", static_cast<unsigned long long>(cloned.value().head));

    session.folder = folder;
    std::ofstream(client::utf8(folder) + "/plan.dwg", std::ios::binary) << "ground floor";
    const auto staged = client::stage(session, {OdString(L"plan.dwg")}, false);
    if (!staged.hasValue())
        return failed("stage", staged.error());
    if (!staged.value().refused.empty())
        return failed("stage", staged.value().refused[0]);
    const auto committed = client::commit(session, OdString(L"ground floor"), 1700000000);
    if (!committed.hasValue())
        return failed("commit", committed.error());
    std::printf("committed %llu\n", static_cast<unsigned long long>(committed.value().id));
    const auto pushed = client::push(session);
    if (!pushed.hasValue())
        return failed("push", pushed.error());
    std::printf("pushed: the server's head is commit %llu\n",
                static_cast<unsigned long long>(pushed.value().head));
    const auto locked = client::lock(session, {OdString(L"plan.dwg")});
    if (!locked.hasValue())
        return failed("lock", locked.error());
    if (!locked.value().at(0).done)
        return failed("lock", client::hostError("held by " + locked.value()[0].held.holder));
    std::printf("locked %s\n", client::quotePath(locked.value()[0].path).c_str());
    return 0;
}
