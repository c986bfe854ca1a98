// The records the staging side of the library speaks in: the kind of change of a file, a staged
// file, a file that may join the repository, and the file records known to the repository.
//
// All are value records with public fields. The library builds StagedFile and EFileChange values,
// reads the `path` of the others, and otherwise only stores, copies and destroys them for the host.
#pragma once

#include <memory>
#include <vector>

#include <boost/optional.hpp>

#include <common/Expected.h>
#include <common/Export.h>
#include <platform/OdString.h>

namespace common {

enum class EFileChange : int { modified = 0, added = 1, removed = 2 };

// "modified", "added" or "removed"; any other value gives the error "unsupported file change".
RVK_EXPORT Expected<OdString> toString(EFileChange change);
// The kind whose text equals `text` exactly (case-sensitive, no trimming); otherwise the error
// "Unsupported file change enum: %ls" with `text`.
RVK_EXPORT Expected<EFileChange> toEFileChange(const OdString& text);

// One entry of the staging area: a path relative to the repository root and its kind of change.
// Exported member by member, as PossibleRepoFile below.
struct StagedFile {
    RVK_EXPORT StagedFile(const OdString& path, EFileChange change);
    // Moving copies (no move operations are declared): the source keeps both fields.
    StagedFile(const StagedFile&) = default;
    StagedFile& operator=(const StagedFile&) = default;
    ~StagedFile() = default;

    // Same path, code unit by code unit, and same kind.
    RVK_EXPORT bool operator==(const StagedFile& other) const;
    bool operator!=(const StagedFile& other) const { return !(*this == other); }

    OdString path;
    EFileChange change;
};

// A file of the working tree that may become part of the repository. The scan sets only `path`;
// the two details are the host's.
// Its members are exported one by one, not the type: standard containers of it, instantiated in
// the library, then stay the library's own.
struct PossibleRepoFile {
    RVK_EXPORT explicit PossibleRepoFile(const OdString& path);
    RVK_EXPORT PossibleRepoFile(const OdString& path, const OdString& detail);
    RVK_EXPORT PossibleRepoFile(const OdString& path, const OdString& detail,
                                const OdString& secondDetail);
    RVK_EXPORT PossibleRepoFile(const OdString& path, const boost::optional<OdString>& detail);
    RVK_EXPORT PossibleRepoFile(const OdString& path, const boost::optional<OdString>& detail,
                                const OdString& secondDetail);
    // Moving copies (no move operations are declared): the source keeps every field.
    PossibleRepoFile(const PossibleRepoFile&) = default;
    PossibleRepoFile& operator=(const PossibleRepoFile&) = default;
    ~PossibleRepoFile() = default;

    OdString path;
    boost::optional<OdString> detail;
    boost::optional<OdString> secondDetail;
};

// The polymorphic base of the file records the repository knows; destroyed through its base.
struct RVK_EXPORT BaseFile {
    explicit BaseFile(const OdString& path) : path(path) {}
    BaseFile(const BaseFile&) = default;
    BaseFile& operator=(const BaseFile&) = default;
    virtual ~BaseFile();

    OdString path;
};

// A tracked file. Copies share the nested record, which is destroyed once, with the last owner.
struct RVK_EXPORT RepoFile : BaseFile {
    RepoFile(const OdString& path, const OdString& detail);
    // Takes the nested record into shared ownership; hasFile tells whether one was given.
    RepoFile(const OdString& path, const OdString& detail, std::unique_ptr<BaseFile> file);
    RepoFile(const RepoFile&) = default;
    RepoFile& operator=(const RepoFile&) = default;
    ~RepoFile() override;

    OdString detail;
    std::shared_ptr<BaseFile> file;
    bool hasFile = false;
};

// A file record carrying strings for loading later.
struct RVK_EXPORT DelayedLoadRepoFile : BaseFile {
    DelayedLoadRepoFile(const OdString& path, const std::vector<OdString>& items);
    DelayedLoadRepoFile(const DelayedLoadRepoFile&) = default;
    DelayedLoadRepoFile& operator=(const DelayedLoadRepoFile&) = default;
    ~DelayedLoadRepoFile() override;

    std::vector<OdString> items;
};

}  // namespace common
