// What a working copy knows of its shared history without asking the server: what a host shows
// beside status, and what tells it whether the shared history's part of the kit is needed at all.
#pragma once

#include <string>

#include <boost/optional.hpp>

#include <client/Export.h>
#include <client/Session.h>
#include <common/Expected.h>

namespace client {

struct SharingState {
    // A pull was cut off before all its working files were in place: status shows files the
    // pull has yet to update, and stage, commit and restore are refused until a pull completes
    // it.
    bool pullCutOff = false;
    // The remote's connection string; none for a repository that shares nothing.
    boost::optional<std::string> remote;
};

// That of the repository that contains Session::folder. Takes no lock: it reads one setting.
RVKCLIENT_API Expected<SharingState> sharingState(const Session& session);

}  // namespace client
