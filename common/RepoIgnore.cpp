#include <common/RepoIgnore.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

// A rule of the ignore file, or the error that names it as the refused one.
UserPattern compileRule(const OdString& line, std::size_t number) {
    // The narrow form ends at its first zero, as names are matched.
    const char* const text = line.ansi_str();
    try {
        return UserPattern(text, std::strlen(text));
    } catch (const std::regex_error& e) {
        throw IgnoreRuleError(e.code(), e.what(), number, line);
    }
}

}  // namespace

struct RepoIgnore::Rules {
    std::vector<UserPattern> rules;
};

struct IgnoreRuleError::Refusal {
    std::string message;
    std::size_t line;
    OdString rule;
};

IgnoreRuleError::IgnoreRuleError(std::regex_constants::error_type code, const char* message,
                                 std::size_t line, const OdString& rule)
    : std::regex_error(code),
      m_refusal(std::make_shared<const Refusal>(Refusal{message, line, rule})) {}

IgnoreRuleError::~IgnoreRuleError() = default;

std::size_t IgnoreRuleError::line() const noexcept {
    return m_refusal->line;
}

OdString IgnoreRuleError::rule() const {
    return m_refusal->rule;
}

const char* IgnoreRuleError::what() const noexcept {
    return m_refusal->message.c_str();
}

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
            rules->rules.emplace_back(rule, std::strlen(rule));
    } else {
        // A file that cannot be read yields no lines, which leaves the list empty: everything is
        // accepted rather than everything refused.
        file.open(nullptr);
        std::size_t number = 1;
        for (OdString line = file.getFirstLine(); !line.isEmpty();
             line = file.getNextLine(), ++number)
            rules->rules.push_back(compileRule(line, number));
    }
    m_rules = std::move(rules);
}

bool RepoIgnore::accept(const OdString& name) const {
    if (!m_rules || m_rules->rules.empty())
        return true;
    // Encode the name once for all rules; the narrow form ends at its first zero, as a C string.
    const char* const begin = name.ansi_str();
    const char* const end = begin + std::strlen(begin);
    for (const UserPattern& rule : m_rules->rules) {
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
