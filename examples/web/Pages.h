// The pages of `rvk serve`, made from what the history's server answered: plain HTML with one
// stylesheet and no script. Every text from the server goes through escape(), every name in a
// link through encodeSegment(); each page links to the others relatively, from `top`, the way from
// its folder back to the top of the site.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <client/HistoryView.h>

namespace rvk::web {

// Commits on one page of the history.
constexpr std::size_t kCommitsPerPage = 50;
// A lock held longer than this is marked old.
constexpr std::int64_t kOldLockSeconds = 7 * 24 * 3600;

// The page `page` (from 1) of `pages` of the history, whose newest commit is `head`.
std::string historyPage(const std::string& top, std::uint64_t page, std::uint64_t pages,
                        std::uint64_t head, const std::vector<client::ViewCommit>& commits);
std::string commitPage(const std::string& top, const client::ViewCommit& commit,
                       std::uint64_t head, const std::vector<client::ViewChange>& changes);
// `lock`: the file's lock, when it has one (holder empty otherwise).
std::string filePage(const std::string& top, const std::string& path,
                     const std::vector<client::ViewVersion>& versions,
                     const client::ViewLock& lock);
std::string locksPage(const std::string& top, const std::vector<client::ViewLock>& locks);
std::string labelsPage(const std::string& top, const std::vector<client::Label>& labels);
std::string labelPage(const std::string& top, const client::Label& label,
                      const std::vector<client::RegisterRow>& rows);
// A page that says why there is no page: `status` and its text, and `why`.
std::string problemPage(const std::string& top, int status, const std::string& why);

// The stylesheet.
const std::string& stylesheet();

}  // namespace rvk::web
