#include <common/StagingExplorer.h>

#include <cassert>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>

#include <boost/container_hash/hash.hpp>

#include <common/internal/Messages.h>
#include <common/internal/Patterns.h>
#include <platform/FileName.h>
#include <platform/Utf8.h>

namespace common {

namespace {

// The regular expression a user's name stands for: ".*" NAME, followed by "(\.[a-zA-Z]+)+$" when
// the name has no extension, matched with std::regex_match against the whole narrow form of a
// path. Every test of a path against a name goes through it; a name without pattern characters
// (the common case, run over every candidate of a large change) makes the shape the pattern's
// literal engine answers. Throws std::regex_error when `name` does not form a valid pattern;
// callers build the pattern before they change anything, so a bad name leaves the explorer as it
// was.
UserPattern namePattern(const OdString& name) {
    static constexpr char kHead[] = ".*";
    static constexpr char kExtensions[] = "(\\.[a-zA-Z]+)+$";
    std::string pattern = kHead + ut::encodeUtf8(name.wstr());
    std::size_t frame = sizeof kHead - 1;
    if (!ut::FileName(name).hasExt()) {
        pattern += kExtensions;
        frame += sizeof kExtensions - 1;
    }
    return UserPattern(pattern.data(), pattern.size(), frame);
}

// Hashing and equality of candidates for the staging index. Equality is StagedFile::operator==
// itself, so the index finds exactly what a walk over the candidates would.
struct CandidateHash {
    std::size_t operator()(const StagedFile& file) const noexcept {
        std::size_t seed = std::hash<OdString>()(file.path);
        boost::hash_combine(seed, static_cast<int>(file.change));
        return seed;
    }
};
struct CandidateEqual {
    bool operator()(const StagedFile& a, const StagedFile& b) const { return a == b; }
};

std::vector<StagedFile> buildCandidates(const RepoChanges& changes) {
    std::vector<StagedFile> candidates;
    candidates.reserve(changes.modified.size() + changes.untracked.size());
    for (const PossibleRepoFile& file : changes.modified)
        candidates.emplace_back(file.path, EFileChange::modified);
    for (const PossibleRepoFile& file : changes.untracked)
        candidates.emplace_back(file.path, EFileChange::added);
    return candidates;
}

}  // namespace

struct RepoFileExplorer::State {
    State(const RepoChanges& changes, const RootPath& root)
        : removed(changes.removed),
          candidates(buildCandidates(changes)),
          isStaged(candidates.size(), false),
          unchanged(changes.unchanged),
          root(root) {
        firstPosition.reserve(candidates.size());
        // emplace keeps the entry already there, so a duplicate maps to its first position.
        for (std::size_t i = 0; i < candidates.size(); ++i)
            firstPosition.emplace(std::cref(candidates[i]), i);
    }
    // The index refers into `candidates`; a copy would refer into the source.
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    std::vector<RepoFile> removed;
    std::vector<StagedFile> candidates;  // never changed after construction
    // The staged positions into `candidates`, as a flag per position and their count: the set
    // of positions, ordered by position, without a node to allocate for each one staged.
    std::vector<bool> isStaged;
    std::size_t stagedCount = 0;
    std::vector<RepoFile> unchanged;
    RootPath root;  // kept so the explorer owns everything it was given; no operation reads it
    // Each distinct candidate to its first position; its keys are the elements of `candidates`.
    std::unordered_map<std::reference_wrapper<const StagedFile>, std::size_t, CandidateHash,
                       CandidateEqual>
        firstPosition;
};

RepoFileExplorer::RepoFileExplorer(const RepoChanges& changes, const RootPath& root)
    : m_state(std::make_unique<State>(changes, root)) {}

RepoFileExplorer::RepoFileExplorer(RepoFileExplorer&& other) noexcept = default;

RepoFileExplorer::~RepoFileExplorer() = default;

bool RepoFileExplorer::hasFilesToStage() const {
    assert(m_state);
    return m_state->stagedCount < m_state->candidates.size();
}

bool RepoFileExplorer::stage(const StagedFile& file) {
    assert(m_state);
    const auto found = m_state->firstPosition.find(std::cref(file));
    if (found == m_state->firstPosition.end())
        return false;
    if (m_state->isStaged[found->second])
        return false;
    m_state->isStaged[found->second] = true;
    ++m_state->stagedCount;
    return true;
}

Expected<std::vector<StagedFile>> RepoFileExplorer::stagedFiles() const {
    assert(m_state);
    if (m_state->stagedCount == 0 && m_state->removed.empty())
        return translatedUnformattedError("There are no modified or untracked files for commit.");
    std::vector<StagedFile> files;
    files.reserve(m_state->stagedCount);
    for (std::size_t position = 0; position < m_state->candidates.size(); ++position) {
        if (m_state->isStaged[position])
            files.push_back(m_state->candidates[position]);
    }
    return files;
}

std::vector<StagedFile> RepoFileExplorer::possibleStageFiles() const {
    assert(m_state);
    return m_state->candidates;
}

boost::variant<StagedFile, NotFound, ErrorMessage> RepoFileExplorer::findForStaging(
    const OdString& name) const {
    assert(m_state);
    const UserPattern pattern = namePattern(name);
    const StagedFile* found = nullptr;
    for (const StagedFile& candidate : m_state->candidates) {
        if (!pattern.matches(candidate.path))
            continue;
        // A second match already makes the name ambiguous; the rest need not be looked at.
        if (found)
            return translatedError("More that one file found with name %ls.\n", name);
        found = &candidate;
    }
    if (!found)
        return NotFound{};
    return *found;
}

OdString RepoFileExplorer::findUnchanged(const OdString& name) const {
    assert(m_state);
    const UserPattern pattern = namePattern(name);
    for (const RepoFile& file : m_state->unchanged) {
        if (pattern.matches(file.path))
            return file.path;
    }
    return OdString();
}

}  // namespace common
