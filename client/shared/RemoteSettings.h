// What a clone knows of its shared history without its server: the settings rvk.db keeps for it,
// and what commit, restore and status ask of them.
#pragma once

#include <common/Expected.h>
#include <common/RootPath.h>

#include <client/store/Database.h>

namespace client {

// The settings rvk.db keeps for a clone.
constexpr const char* kRemoteKey = "conninfo";  // the remote's connection string
constexpr const char* kBaseKey = "base";        // the newest server commit this clone holds
constexpr const char* kPendingKey = "pending";  // a pull whose working files are not all placed
constexpr const char* kSettledKey = "settled";  // how that pull settles conflicts (Settled)

// Fails when a pull was cut off after its commits were stored and before HEAD and the working
// files followed: until rvk pull completes it, HEAD may name the wrong commit and status shows
// the server's new files as removed, so commands that change anything (stage, unstage, commit,
// restore, uncommit) refuse to run; pull completes it, and push and clone do first.
Expected<void> checkNoCutOffPull(Database& db);

}  // namespace client
