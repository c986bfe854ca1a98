// rvk status: one line a file, as the kit lists them, and the notes of a shared history.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <client/LocalOperations.h>
#include <client/SharedOperations.h>
#include <client/SharedState.h>

#include "Commands.h"

namespace rvk {

namespace {

// Collects the lines ("-z": code, space, the raw path, a zero byte) and writes them in large
// pieces: a status of half a million files is mostly this output.
class StatusPrinter {
public:
    explicit StatusPrinter(bool zeroTerminated) : m_zero(zeroTerminated) {}
    ~StatusPrinter() { flush(); }
    StatusPrinter(const StatusPrinter&) = delete;
    StatusPrinter& operator=(const StatusPrinter&) = delete;

    void add(const StatusEntry& entry) {
        m_out += entry.code;
        m_out.append(3 - std::strlen(entry.code), ' ');
        if (!m_zero && needsQuoting(entry.path))
            m_out += quotePath(std::string(entry.path));
        else
            m_out += entry.path;
        // Who holds the file's lock, for people; scripts (-z) get the code and the path alone.
        if (!m_zero && entry.lock != nullptr)
            m_out += "  (locked by " +
                     (entry.lockIsMine ? std::string("you") : quoteName(entry.lock->holder)) +
                     " since " + entry.lock->taken + ")";
        m_out += m_zero ? '\0' : '\n';
        if (m_out.size() >= (std::size_t{1} << 16))
            flush();
    }
    void flush() {
        std::fwrite(m_out.data(), 1, m_out.size(), stdout);
        m_out.clear();
    }

private:
    bool m_zero;
    std::string m_out;
};

// The note of a clone whose pull was cut off.
void noteSharedHistory(const client::Session& kit) {
    const auto sharing = client::sharingState(kit);
    if (sharing.hasValue() && sharing.value().pullCutOff)
        printError(hostError("note: a pull was cut off before it was complete: run rvk pull to "
                             "complete it; until then, status shows files the pull has yet to "
                             "update"));
}

// How long status waits for the server's locks, connecting included.
constexpr int kLockSeconds = 2;

}  // namespace

int status(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("status", args, {"-z"});
    if (!parsed.operands.empty())
        throw BadUsage{"status: takes no PATH; it always lists the whole working tree"};
    const auto kit = orFail(session.kit());
    {
        StatusPrinter printer(parsed.has("-z"));
        const auto listed = client::statusWithLocks(
            kit, kLockSeconds, [&](const StatusEntry& entry) { printer.add(entry); });
        session.reporter.endProgress();
        printer.flush();
        orFail(Expected<void>(listed));
    }
    noteSharedHistory(kit);
    return 0;
}

}  // namespace rvk
