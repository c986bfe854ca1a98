// Fuzz target: RepoFileExplorer::findForStaging and findUnchanged on arbitrary names.
//
// A name is a user's regular expression, so a name that is no valid pattern throws
// std::regex_error: that is the documented outcome and is caught here. Everything else must hold:
// the explorer's unchanged files are its candidates' paths in candidate order, so the two lookups
// must agree (nothing found by one is found by the other; one match is the path findUnchanged
// gives; several matches give the exact "More that one file found" message), a found candidate is
// one of the candidates, and neither lookup changes the explorer.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include <common/StagingExplorer.h>
#include <platform/Utf8.h>

#include "FuzzSupport.h"

namespace {

using common::RepoFileExplorer;
using common::StagedFile;
using fuzz_support::dump;
using fuzz_support::require;

// Paths as a scan of an awkward working tree would list them, in their UTF-8 bytes. They are kept
// short: a name may be any pattern, nested quantifiers included, and a backtracking match costs
// time exponential in the length of the path.
const char* const kModified[] = {
    "plan.dwg",     "s/plan.dwg", "s/my.dwg",
    "p.bak.dwg",    "plan.dwg2",  "d.v2/plan",
    "Plan.DWG",     "a b(1).dwg", "\xC3\xBC/\xE5\x9B\xB3.dwg",
    "\xFF\xFE.dwg", "t\tb.dwg",   "l\nb.dwg",
    "+[1]{2}.dwg",  "$^.*|?.dwg", "trailing.",
    "b\\s.dwg",     "",
};
const char* const kUntracked[] = {"new p.dwg", "s/new.dwg", "x/.hidden", "plan.dwg"};

struct Explorer {
    std::vector<StagedFile> candidates;
    RepoFileExplorer explorer;
};

RepoFileExplorer makeExplorer(const std::vector<StagedFile>& candidates) {
    common::RepoChanges changes;
    for (const char* path : kModified)
        changes.modified.emplace_back(OdString(path, kCodePageUtf8));
    for (const char* path : kUntracked)
        changes.untracked.emplace_back(OdString(path, kCodePageUtf8));
    for (const StagedFile& candidate : candidates)
        changes.unchanged.emplace_back(candidate.path, OdString(L"tracked"));
    return RepoFileExplorer(changes, fuzz_support::scratchRoot());
}

Explorer& fixture() {
    static Explorer made = [] {
        std::vector<StagedFile> candidates;
        for (const char* path : kModified)
            candidates.emplace_back(OdString(path, kCodePageUtf8), common::EFileChange::modified);
        for (const char* path : kUntracked)
            candidates.emplace_back(OdString(path, kCodePageUtf8), common::EFileChange::added);
        RepoFileExplorer explorer = makeExplorer(candidates);
        return Explorer{std::move(candidates), std::move(explorer)};
    }();
    return made;
}

class Outcome : public boost::static_visitor<void> {
public:
    Outcome(const OdString& name, const OdString& unchanged)
        : m_name(name), m_unchanged(unchanged) {}

    void operator()(const StagedFile& found) const {
        bool isCandidate = false;
        for (const StagedFile& candidate : fixture().candidates)
            isCandidate = isCandidate || candidate == found;
        require(isCandidate, "a found file is a candidate",
                [&] { return dump(found.path.wstr()); });
        require(found.path == m_unchanged, "one match is the first match",
                [&] { return dump(found.path.wstr()) + " vs " + dump(m_unchanged.wstr()); });
    }
    void operator()(const common::NotFound&) const {
        require(m_unchanged.isEmpty(), "no match for one lookup is no match for the other",
                [&] { return dump(m_unchanged.wstr()); });
    }
    void operator()(const ErrorMessage& error) const {
        const std::wstring& name = m_name.wstr();
        const OdString expected(L"More that one file found with name " +
                                name.substr(0, name.find(L'\0')) + L".\n");
        require(error.message == expected && error.code == 0, "several matches give the message",
                [&] { return dump(error.message.wstr()); });
        require(!m_unchanged.isEmpty(), "several matches include a first match");
    }

private:
    OdString m_name;
    OdString m_unchanged;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Explorer& f = fixture();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const OdString name(ut::decodeUtf8(bytes));

    bool unchangedThrew = false;
    OdString unchanged;
    try {
        unchanged = f.explorer.findUnchanged(name);
    } catch (const std::regex_error&) {
        unchangedThrew = true;
    }
    try {
        const auto found = f.explorer.findForStaging(name);
        require(!unchangedThrew, "both lookups accept the same names",
                [&] { return dump(name.wstr()); });
        boost::apply_visitor(Outcome(name, unchanged), found);
    } catch (const std::regex_error&) {
        require(unchangedThrew, "both lookups refuse the same names",
                [&] { return dump(name.wstr()); });
    }
    require(f.explorer.hasFilesToStage() && f.explorer.possibleStageFiles() == f.candidates,
            "lookups change nothing");
    return 0;
}
