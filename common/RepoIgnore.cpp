#include <common/RepoIgnore.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include <common/internal/Messages.h>
#include <common/internal/Patterns.h>
#include <platform/FileName.h>
#include <platform/TextFile.h>

namespace common {

namespace {

// What a repository without an ignore file leaves out, and what write() puts into a new one.
constexpr const char* kBuiltInRules[] = {
    "^.*\\.bak$",
    "^.*\\.dwl$",
    "^.*\\.dwl2$",
};

bool isPlainLiteral(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Recognises the patterns "^.*TAIL$", ".*TAIL$", "^.*TAIL" and ".*TAIL", where TAIL holds only
// ASCII letters, digits, underscores and escaped dots, and stores TAIL unescaped. Matched whole,
// such a pattern matches exactly the names that end in TAIL and hold no line break before it,
// because "." stands for any character but LF and CR. Every other pattern is left to std::regex.
bool literalTailOf(const char* pattern, std::string& tail) {
    const char* p = pattern;
    if (*p == '^')
        ++p;
    if (p[0] != '.' || p[1] != '*')
        return false;
    tail.clear();
    for (p += 2; *p != '\0'; ++p) {
        if (isPlainLiteral(*p)) {
            tail.push_back(*p);
        } else if (p[0] == '\\' && p[1] == '.') {
            tail.push_back('.');
            ++p;
        } else if (p[0] == '$' && p[1] == '\0') {
            break;
        } else {
            return false;  // a quantifier, a class, a group, another escape...
        }
    }
    return true;
}

bool isLineBreak(char c) {
    return c == '\n' || c == '\r';
}

bool matchesLiteralTail(const char* begin, const char* end, const std::string& tail) {
    if (static_cast<std::size_t>(end - begin) < tail.size())
        return false;
    const char* const cut = end - tail.size();
    return std::memcmp(cut, tail.data(), tail.size()) == 0 && std::none_of(begin, cut, isLineBreak);
}

// One rule: a name matches it when the pattern matches the whole name. A rule that asks no more
// than "the name ends with this text and holds no line break before it" (the built-in rules are of
// that kind) is answered by comparing bytes, which is cheaper than any matcher; the result is the
// same.
struct Rule {
    explicit Rule(const char* pattern)
        // Compiled even when the tail answers, so that a malformed pattern is refused all the same.
        : compiled(pattern, std::strlen(pattern)), literalTail(literalTailOf(pattern, tail)) {}

    bool matches(const char* begin, const char* end) const {
        return literalTail ? matchesLiteralTail(begin, end, tail) : compiled.matches(begin, end);
    }

    UserPattern compiled;
    std::string tail;
    bool literalTail;
};

}  // namespace

struct RepoIgnore::Rules {
    std::vector<Rule> rules;
};

RepoIgnore::RepoIgnore(const RootPath& root) : m_path(root.ignorePath()) {
    load();
}

// Copies share the compiled rules, which nothing changes after load().
RepoIgnore::RepoIgnore(const RepoIgnore& other) = default;
RepoIgnore& RepoIgnore::operator=(const RepoIgnore& other) = default;

RepoIgnore::RepoIgnore(RepoIgnore&& other) noexcept
    : m_path(other.m_path), m_rules(std::move(other.m_rules)) {}

RepoIgnore& RepoIgnore::operator=(RepoIgnore&& other) noexcept {
    if (this != &other) {
        m_path = other.m_path;
        m_rules = std::move(other.m_rules);  // leaves the source's pointer null: no rules
    }
    return *this;
}

RepoIgnore::~RepoIgnore() = default;

void RepoIgnore::load() {
    auto rules = std::make_shared<Rules>();
    ut::TextFile file(m_path);
    if (!file.exists()) {
        for (const char* rule : kBuiltInRules)
            rules->rules.emplace_back(rule);
    } else {
        // A file that cannot be read yields no lines, which leaves the list empty: everything is
        // accepted rather than everything refused.
        file.open(nullptr);
        for (OdString line = file.getFirstLine(); !line.isEmpty(); line = file.getNextLine())
            rules->rules.emplace_back(line.ansi_str());
    }
    m_rules = std::move(rules);
}

bool RepoIgnore::accept(const OdString& name) const {
    if (!m_rules || m_rules->rules.empty())
        return true;
    // Encode the name once for all rules; the narrow form ends at its first zero, as a C string.
    const char* const begin = name.ansi_str();
    const char* const end = begin + std::strlen(begin);
    for (const Rule& rule : m_rules->rules) {
        if (rule.matches(begin, end))
            return false;
    }
    return true;
}

OdString RepoIgnore::ignorePath() const {
    return m_path;
}

Expected<void> RepoIgnore::write(const RootPath& root) {
    ut::TextFile file(root.ignorePath());
    if (file.exists())
        return {};
    file.create();
    for (const char* rule : kBuiltInRules)
        file.addLine(OdString(rule, kCodePageUtf8));
    if (file.write(nullptr, nullptr, 0))
        return {};
    return untranslatedError("Failed to write Ignore file.");
}

}  // namespace common
