#include <common/StagingExplorer.h>

#include <cassert>
#include <functional>
#include <set>
#include <unordered_map>
#include <utility>

#include <boost/container_hash/hash.hpp>

#include <regex>

#include <common/Messages.h>
#include <platform/FileName.h>

namespace common {

namespace {

// The regular expression a user's name stands for. Every test of a path against a name goes
// through this class, so that a faster test for plain names can replace the regex behind it
// without touching the walks that use it.
class NamePattern {
public:
    // Throws std::regex_error when `name` does not form a valid pattern; callers build the
    // pattern before they change anything, so a bad name leaves the explorer as it was.
    explicit NamePattern(const OdString& name) : m_regex(compile(name)) {}

    // True when the whole narrow form of `path` matches.
    bool matches(const OdString& path) const {
        const char* narrow = path.ansi_str();
        return std::regex_match(narrow, narrow + path.ansiLength(), m_regex);
    }

private:
    static std::regex compile(const OdString& name) {
        OdString pattern = OdString(L".*") + name;
        if (!ut::FileName(name).hasExt())
            pattern += L"(\\.[a-zA-Z]+)+$";
        return std::regex(pattern.ansi_str(), pattern.ansiLength(), std::regex::ECMAScript);
    }

    std::regex m_regex;
};

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
    std::set<std::size_t> staged;        // positions into `candidates`
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
    return m_state->staged.size() < m_state->candidates.size();
}

bool RepoFileExplorer::stage(const StagedFile& file) {
    assert(m_state);
    const auto found = m_state->firstPosition.find(std::cref(file));
    if (found == m_state->firstPosition.end())
        return false;
    return m_state->staged.insert(found->second).second;
}

Expected<std::vector<StagedFile>> RepoFileExplorer::stagedFiles() const {
    assert(m_state);
    if (m_state->staged.empty() && m_state->removed.empty())
        return translatedError("There are no modified or untracked files for commit.");
    std::vector<StagedFile> files;
    files.reserve(m_state->staged.size());
    for (std::size_t position : m_state->staged)
        files.push_back(m_state->candidates[position]);
    return files;
}

std::vector<StagedFile> RepoFileExplorer::possibleStageFiles() const {
    assert(m_state);
    return m_state->candidates;
}

boost::variant<StagedFile, NotFound, ErrorMessage> RepoFileExplorer::findForStaging(
    const OdString& name) const {
    assert(m_state);
    const NamePattern pattern(name);
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
    const NamePattern pattern(name);
    for (const RepoFile& file : m_state->unchanged) {
        if (pattern.matches(file.path))
            return file.path;
    }
    return OdString();
}

}  // namespace common
