// What the kit's shared-history tests start from: the logins of the throwaway server that
// kit_server_test.sh starts (RVK_TEST_ADMIN, RVK_TEST_DRAFTER1, RVK_TEST_DRAFTER2, RVK_TEST_READER
// and RVK_TEST_SUPER), a server without a shared repository made again for each test, and clones
// of it in working copies.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <client/LocalOperations.h>
#include <client/SharedOperations.h>
#include <client/shared/ServerConnection.h>
#include <client/shared/Standing.h>
#include <common/ContentHash.h>

#include "KitSupport.h"

namespace kit_testing {

inline std::string login(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

inline std::string message(const ErrorMessage& error) {
    return client::utf8(error.message);
}

// A UTF-8 name as the kit takes it.
inline OdString od(const std::string& text) {
    return OdString(text.c_str(), kCodePageUtf8);
}

// The SHA-256 digest of `bytes`, in hex, as the kit writes digests.
inline std::string sha256(const std::string& bytes) {
    common::ContentDigest digest;
    digest.update(bytes.data(), bytes.size());
    return client::utf8(digest.hexDigest());
}

class SharedServer : public testing::Test {
public:
    void SetUp() override {
        admin = login("RVK_TEST_ADMIN");
        drafter1 = login("RVK_TEST_DRAFTER1");
        drafter2 = login("RVK_TEST_DRAFTER2");
        reader = login("RVK_TEST_READER");
        super = login("RVK_TEST_SUPER");
        if (admin.empty() || drafter1.empty() || drafter2.empty() || reader.empty() ||
            super.empty())
            GTEST_SKIP() << "no server: run through kit_server_test.sh";
        KeptReporter quiet;
        // Each test starts from a server without a shared repository.
        {
            auto server = client::ServerConnection::connect(super, quiet);
            ASSERT_TRUE(server.hasValue()) << message(server.error());
            ASSERT_TRUE(server.value().run("DROP SCHEMA IF EXISTS rvk CASCADE").hasValue());
        }
        const auto created = client::createServer(admin, quiet);
        ASSERT_TRUE(created.hasValue()) << message(created.error());
    }
    // Clones the server into `w` as `who`.
    void cloneInto(WorkingCopy& w, const std::string& who) {
        const auto cloned = client::clone(w.session(), who, OdString(L"clone"));
        ASSERT_TRUE(cloned.hasValue()) << message(cloned.error());
    }
    client::Session in(WorkingCopy& w) { return w.session("clone"); }
    // Writes the clone's file at `path` as a drafter who writes a read-only drawing anyway would:
    // its write permission given back first.
    static void writeAnyway(WorkingCopy& w, const std::string& path, const std::string& content) {
        std::error_code ignored;  // a file not there yet
        std::filesystem::permissions(w.dir / ("clone/" + path), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
        w.dir.writeFile("clone/" + path, content);
    }
    void commitFile(WorkingCopy& w, const std::string& path, const std::string& content) {
        writeAnyway(w, path, content);
        const auto staged = client::stage(in(w), {OdString(path.c_str(), kCodePageUtf8)}, false);
        ASSERT_TRUE(staged.hasValue() && staged.value().refused.empty());
        const auto made = client::commit(in(w), OdString(path.c_str(), kCodePageUtf8), 100);
        ASSERT_TRUE(made.hasValue()) << message(made.error());
    }
    // Runs `phases` on the clone in `w` and its server, opened and locked as push and pull open
    // them; the lock is let go when it returns.
    void linked(WorkingCopy& w,
                const std::function<void(client::Repository&, client::ServerConnection&)>& phases) {
        auto opened = client::openLinked(in(w), client::LockMode::exclusive);
        ASSERT_TRUE(opened.hasValue()) << message(opened.error());
        phases(opened.value().repo, opened.value().server);
    }
    std::string admin, drafter1, drafter2, reader, super;
};

}  // namespace kit_testing
