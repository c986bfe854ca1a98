#include <common/FileRecords.h>

#include <common/internal/Messages.h>

namespace common {

namespace {

struct ChangeText {
    EFileChange change;
    const wchar_t* text;
};
// The order in which a text is matched.
constexpr ChangeText kChangeTexts[] = {
    {EFileChange::added, L"added"},
    {EFileChange::modified, L"modified"},
    {EFileChange::removed, L"removed"},
};

}  // namespace

Expected<OdString> toString(EFileChange change) {
    for (const auto& entry : kChangeTexts) {
        if (entry.change == change)
            return OdString(entry.text);
    }
    return translatedUnformattedError("unsupported file change");
}

Expected<EFileChange> toEFileChange(const OdString& text) {
    for (const auto& entry : kChangeTexts) {
        if (text == entry.text)
            return entry.change;
    }
    return translatedError("Unsupported file change enum: %ls", text);
}

StagedFile::StagedFile(const OdString& path, EFileChange change) : path(path), change(change) {}

bool StagedFile::operator==(const StagedFile& other) const {
    return change == other.change && path == other.path;
}

PossibleRepoFile::PossibleRepoFile(const OdString& path) : path(path) {}

PossibleRepoFile::PossibleRepoFile(const OdString& path, const OdString& detail)
    : path(path), detail(detail) {}

PossibleRepoFile::PossibleRepoFile(const OdString& path, const OdString& detail,
                                   const OdString& secondDetail)
    : path(path), detail(detail), secondDetail(secondDetail) {}

PossibleRepoFile::PossibleRepoFile(const OdString& path, const boost::optional<OdString>& detail)
    : path(path), detail(detail) {}

PossibleRepoFile::PossibleRepoFile(const OdString& path, const boost::optional<OdString>& detail,
                                   const OdString& secondDetail)
    : path(path), detail(detail), secondDetail(secondDetail) {}

BaseFile::~BaseFile() = default;

RepoFile::RepoFile(const OdString& path, const OdString& detail) : BaseFile(path), detail(detail) {}

RepoFile::RepoFile(const OdString& path, const OdString& detail, std::unique_ptr<BaseFile> file)
    : BaseFile(path), detail(detail), file(std::move(file)), hasFile(this->file != nullptr) {}

RepoFile::~RepoFile() = default;

DelayedLoadRepoFile::DelayedLoadRepoFile(const OdString& path, const std::vector<OdString>& items)
    : BaseFile(path), items(items) {}

DelayedLoadRepoFile::~DelayedLoadRepoFile() = default;

}  // namespace common
