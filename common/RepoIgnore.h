// RepoIgnore: the ignore rules of one repository, which decide the names the scan leaves out.
//
// The rules live in the ignore file "ignore" of the repository's properties folder, one ECMAScript
// regular expression per line, read up to the first empty line; each line is the whole pattern,
// with no trimming and no comment syntax. A rule matches a bare file or folder name only when it
// matches the whole of it (std::regex_match over the name's narrow form), and matching is
// case-sensitive. Without an ignore file the built-in rules apply: names ending in ".bak", ".dwl"
// and ".dwl2".
//
// A RepoIgnore reads its rules once, when it is made, and never reloads them: it keeps what it read
// even when the file changes or goes away afterwards.
//
// A refused ignore file throws IgnoreRuleError, which names the line and the rule.
//
// Limits: a rule of up to 4096 bytes with up to 100 nested groups is refused exactly when
// std::regex refuses it, but for what is refused on purpose: a quantifier right after another
// ("a**", error_badrepeat), a repeat count or back-reference number of more than nine digits
// (error_badbrace, error_backref), and '^', \b or \B inside a look-ahead (error_complexity). A
// longer rule is refused with std::regex_constants::error_space, a deeper one with
// error_complexity. Matching takes time linear in the name's length, except for rules with a
// back-reference or a look-ahead, whose work per name is bounded: past that bound accept() throws
// std::regex_error with error_complexity.
#pragma once

#include <cstddef>
#include <memory>
#include <regex>

#include <common/Expected.h>
#include <common/Export.h>
#include <common/RootPath.h>
#include <platform/OdString.h>

namespace common {

// The refusal of an ignore file: the first line, up to the first empty one, that is no valid
// pattern or passes the limits. An addition of ours, so that a host can tell its user which rule
// to mend. It is a std::regex_error, so a caller that catches those still catches it, and code()
// and what() are those of the rule alone: the code std::regex gives it (or the one the limits
// give) and that refusal's own message, without the line.
class RVK_EXPORT IgnoreRuleError : public std::regex_error {
public:
    IgnoreRuleError(std::regex_constants::error_type code, const char* message, std::size_t line,
                    const OdString& rule);
    ~IgnoreRuleError() override;

    // The refused rule's line in the ignore file, counted from 1.
    std::size_t line() const noexcept;
    // The refused rule as the file holds it, without the line end.
    OdString rule() const;
    const char* what() const noexcept override;

private:
    struct Refusal;
    // Shared, so that copying the error, as throwing may, cannot fail.
    std::shared_ptr<const Refusal> m_refusal;
};

// Only the public members are exported: the private ones are the library's own.
class RepoIgnore {
public:
    // Reads the rules of `root`'s ignore file, or takes the built-in rules when the file does not
    // exist. An existing file whose first line is empty (or that cannot be read) gives no rules, so
    // every name is accepted. A line that is no valid pattern throws IgnoreRuleError, and no
    // object is made.
    RVK_EXPORT explicit RepoIgnore(const RootPath& root);

    // Copies are independent values holding the same rules (the compiled rules are immutable and
    // shared).
    RVK_EXPORT RepoIgnore(const RepoIgnore& other);
    RVK_EXPORT RepoIgnore& operator=(const RepoIgnore& other);
    // Moving copies the path and takes the rules over: the source keeps its path but has no rules
    // left, so it accepts every name.
    RVK_EXPORT RepoIgnore(RepoIgnore&& other) noexcept;
    RVK_EXPORT RepoIgnore& operator=(RepoIgnore&& other) noexcept;
    RVK_EXPORT ~RepoIgnore();

    // True when no rule matches the whole of `name`, a bare file or folder name. Safe to call from
    // several threads at once, provided each passes its own `name` object. Throws std::regex_error
    // with error_complexity when a rule that needs backtracking exceeds its bounded work.
    RVK_EXPORT bool accept(const OdString& name) const;

    // The path of the ignore file that the rules were read from (whether it existed or not).
    RVK_EXPORT OdString ignorePath() const;

    // Creates `root`'s ignore file holding the built-in rules, one per line, unless a file is
    // already there; an existing file is left untouched, whatever it holds. Creates no folder.
    // Fails with "Failed to write Ignore file." (never translated) when the file cannot be written.
    RVK_EXPORT static Expected<void> write(const RootPath& root);

private:
    struct Rules;

    void load();

    OdString m_path;
    std::shared_ptr<const Rules> m_rules;  // null: no rules, every name accepted
};

}  // namespace common
