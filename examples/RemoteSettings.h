// What rvk itself knows of a shared history, without its server: the settings rvk.db keeps for a
// clone (RemoteSettings.cpp), and what commit, restore and status ask of them. Everything that
// talks to the server lives in the remote module (RemoteModule.h).
#pragma once

#include <common/Expected.h>
#include <common/RootPath.h>

#include "Database.h"

namespace host {

// The settings rvk.db keeps for a clone.
constexpr const char* kRemoteKey = "conninfo";  // the remote's connection string
constexpr const char* kBaseKey = "base";        // the newest server commit this clone holds
constexpr const char* kPendingKey = "pending";  // a pull whose working files are not all placed

// Fails when a pull was cut off after its commits were stored and before HEAD and the working
// files followed: until rvk pull completes it, HEAD may name the wrong commit and status shows
// the server's new files as removed, so commands that change anything (stage, unstage, commit,
// restore, uncommit) refuse to run; pull completes it, and push and clone do first.
Expected<void> checkNoCutOffPull(Database& db);

// For status: notes on stderr a pull that was cut off, which status would show as changes, and,
// when the repository has a remote, the files that roles other than the remote's hold locks on
// (the remote module does, loaded for it). A server that does not answer within two seconds gets
// one note, and status goes on.
void noteSharedHistory(const common::RootPath& root);

}  // namespace host
