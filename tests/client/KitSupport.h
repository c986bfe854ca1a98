// What the kit's tests give every operation: an IoInterface that keeps the outcomes of the state
// file's writes, a Reporter that keeps notes and can cancel, and a working copy to run in.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <client/LocalOperations.h>
#include <client/Session.h>
#include <client/Text.h>
#include <platform/FileName.h>

#include "TestSupport.h"

namespace kit_testing {

class KeptIo final : public common::IoInterface {
public:
    int check(const OdString& path) const override {
        return ut::FileName(path).exists(ut::FileName::kAnyObject) ? 1 : 0;
    }
    void report(Expected<void> outcome) const override {
        if (!outcome.hasValue())
            failures.push_back(client::utf8(outcome.error().message));
    }
    mutable std::vector<std::string> failures;
};

// Keeps every note and the steps it saw; cancels at the `cancelAt`-th call of progress() when
// that is above 0.
class KeptReporter final : public client::Reporter {
public:
    void note(const ErrorMessage& note) override { notes.push_back(client::utf8(note.message)); }
    bool progress(const client::Progress& progress) override {
        steps.emplace_back(progress.step);
        return cancelAt == 0 || ++calls < cancelAt;
    }
    std::vector<std::string> notes;
    std::vector<std::string> steps;
    int cancelAt = 0;
    int calls = 0;
};

// A working copy in a temporary folder, and a Session that stands in it (or in `sub`).
struct WorkingCopy {
    testing_support::TempDir dir;
    KeptIo io;
    KeptReporter reporter;

    client::Session session(const std::string& sub = "") {
        return client::Session{io, reporter, sub.empty() ? dir.od() : dir.od(sub),
                               std::chrono::seconds(5)};
    }
    OdString od(const std::string& relative) const { return dir.od(relative); }
};

// The names an operation's refusals give, as text.
inline std::vector<std::string> texts(const std::vector<ErrorMessage>& errors) {
    std::vector<std::string> out;
    for (const ErrorMessage& e : errors)
        out.push_back(client::utf8(e.message));
    return out;
}

// Every file below `folder` but the repository's own, as "path=content" ('/'-separated), sorted.
inline std::vector<std::string> workingFiles(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename() == ".rvk") {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file())
            files.push_back(fs::relative(it->path(), folder).generic_string() + "=" +
                            testing_support::readFile(it->path()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

// `path` ('/'-separated) with the system's separator, as the kit gives paths.
inline std::string sys(std::string path) {
    const std::string separator = client::utf8(ut::FileName::getPathSeparator());
    for (char& c : path) {
        if (c == '/')
            c = separator[0];
    }
    return path;
}

// Whether `text` holds `part`, saying both when it does not.
inline testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << '"' << text << "\" lacks \"" << part << '"';
}

}  // namespace kit_testing
