#include <common/StagingExplorer.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include <boost/container_hash/hash.hpp>
#include <boost/optional.hpp>

#include <common/internal/Messages.h>
#include <common/internal/Patterns.h>
#include <platform/FileName.h>
#include <platform/Utf8.h>

namespace common {

namespace {

// The regular expression a user's name stands for: ".*" NAME, followed by "(\.[a-zA-Z]+)+$" when
// the name has no extension, matched with std::regex_match against the whole narrow form of a
// path. Every test of a path against a name goes through this class.
//
// Running that expression over every candidate of a large change costs far more than the rest of
// a search, so a name in which no byte but '.' has a meaning in a pattern is matched by hand, with
// the same result. Such a name is a sequence of literal bytes and wildcards ('.', any byte but LF
// and CR, the only line terminators of the narrow ECMAScript '.'), and a path P matches exactly
// when, for some position j:
//   - P[j..] is empty when the name has an extension, and otherwise one or more groups of a dot
//     and one or more ASCII letters;
//   - the name's bytes match the bytes just before j, P[j-n..j), one for one;
//   - P[0..j-n), what ".*" takes, holds no LF or CR.
// Other names go to the user-pattern matcher.
class NamePattern {
public:
    // Throws std::regex_error when `name` does not form a valid pattern; callers build the
    // pattern before they change anything, so a bad name leaves the explorer as it was.
    explicit NamePattern(const OdString& name)
        : m_name(ut::encodeUtf8(name.wstr())),
          m_extensions(!ut::FileName(name).hasExt()),
          m_plain(isPlain(m_name)),
          m_asciiName(std::all_of(m_name.begin(), m_name.end(), isAscii)) {
        if (!m_plain)
            m_pattern = compile(m_name, m_extensions);
    }

    // True when the whole narrow form of `path` matches.
    bool matches(const OdString& path) const {
        if (!m_plain) {
            const char* narrow = path.ansi_str();
            return m_pattern->matches(narrow, narrow + path.ansiLength());
        }
        // Wide elements below 0x80 are their own UTF-8 bytes, and counted from the end of the
        // path they keep their byte positions as long as no other element stands between; only
        // a wildcard facing another element needs the bytes themselves.
        if (m_asciiName) {
            const Verdict verdict = matchTail(path.c_str(), path.wstr().size());
            if (verdict != Verdict::kUndecided)
                return verdict == Verdict::kYes;
        }
        m_bytes.clear();
        ut::appendUtf8(m_bytes, path.c_str(), path.wstr().size());
        return matchTail(m_bytes.data(), m_bytes.size()) == Verdict::kYes;
    }

private:
    enum class Verdict { kNo, kYes, kUndecided };

    // The bytes with a meaning in an ECMAScript pattern, but '.'; with NUL (the terminator, which
    // sizeof counts), which std::regex's scanner also takes for one of them.
    static constexpr char kPatternCharacters[] = "\\^$*+?()[]{}|";

    static bool isPlain(const std::string& narrowName) {
        return narrowName.find_first_of(kPatternCharacters, 0, sizeof kPatternCharacters) ==
               std::string::npos;
    }

    static UserPattern compile(const std::string& narrowName, bool extensions) {
        static constexpr char kHead[] = ".*";
        static constexpr char kExtensions[] = "(\\.[a-zA-Z]+)+$";
        std::string pattern = kHead + narrowName;
        std::size_t frame = sizeof kHead - 1;
        if (extensions) {
            pattern += kExtensions;
            frame += sizeof kExtensions - 1;
        }
        return UserPattern(pattern.data(), pattern.size(), frame);
    }

    static bool isAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }
    static bool isLetter(std::uint32_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
    static bool isLineTerminator(std::uint32_t c) { return c == '\n' || c == '\r'; }

    template <class Char>
    static std::uint32_t unit(Char c) {
        return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
    }

    // Over the UTF-8 bytes of a path (Char = char), or over its wide elements (Char = wchar_t)
    // when the name is ASCII: there an element of 0x80 or more under a wildcard is undecided.
    template <class Char>
    Verdict matchTail(const Char* path, std::size_t size) const {
        if (!m_extensions)
            return matchBefore(path, size);
        bool undecided = false;
        // Walk back over the letters and dots at the end; every dot reached with a letter after
        // it, and no dot run before, starts a valid run of extensions.
        bool letterAfter = false;
        for (std::size_t k = size; k > 0; --k) {
            const std::uint32_t c = unit(path[k - 1]);
            if (isLetter(c)) {
                letterAfter = true;
            } else if (c == '.' && letterAfter) {
                const Verdict verdict = matchBefore(path, k - 1);
                if (verdict == Verdict::kYes)
                    return verdict;
                undecided = undecided || verdict == Verdict::kUndecided;
                letterAfter = false;
            } else {
                break;
            }
        }
        return undecided ? Verdict::kUndecided : Verdict::kNo;
    }

    // Whether the name ends at `end` with nothing but non-terminators before it.
    template <class Char>
    Verdict matchBefore(const Char* path, std::size_t end) const {
        // Compared from `end` backwards, so that over elements the comparison stops, undecided,
        // at the first element that is not a byte of its own, before positions could drift.
        const std::size_t n = m_name.size();
        const std::size_t overlap = std::min(n, end);
        for (std::size_t i = 1; i <= overlap; ++i) {
            const std::uint32_t c = unit(path[end - i]);
            const char expected = m_name[n - i];
            if (expected != '.') {
                if (c != unit(expected))
                    return Verdict::kNo;
            } else if (isLineTerminator(c)) {
                return Verdict::kNo;
            } else if (c >= 0x80 && sizeof(Char) > 1) {
                return Verdict::kUndecided;
            }
        }
        if (overlap < n)
            return Verdict::kNo;
        const Char* const start = path + (end - n);
        const bool clean =
            std::none_of(path, start, [](Char c) { return isLineTerminator(unit(c)); });
        return clean ? Verdict::kYes : Verdict::kNo;
    }

    std::string m_name;  // the narrow form of the name
    bool m_extensions;   // whether "(\.[a-zA-Z]+)+$" follows the name
    bool m_plain;
    bool m_asciiName;
    boost::optional<UserPattern> m_pattern;  // only for names that are not plain
    mutable std::string m_bytes;          // a path's narrow form, when the elements cannot tell
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
