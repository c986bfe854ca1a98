// An IoInterface in front of the host's: it passes everything on and keeps what the kit must know
// itself, whether a write of the state file failed.
#pragma once

#include <cerrno>
#include <utility>

#include <common/IoInterface.h>

namespace client {

class CountingIo final : public common::IoInterface {
public:
    explicit CountingIo(const common::IoInterface& host) : m_host(host) {}
    int check(const OdString& path) const override { return m_host.check(path); }
    void notify(const OdString& text) const override { m_host.notify(text); }
    void report(Expected<void> outcome) const override {
        // The host may read the system's reason for a failed write in errno: kept for it.
        const int reason = errno;
        if (!outcome.hasValue()) {
            ++m_failures;
            try {
                m_lastFailure = outcome.error();
            } catch (...) {
                // Out of memory: the count still tells the operation.
            }
        }
        errno = reason;
        m_host.report(std::move(outcome));
    }
    int failures() const { return m_failures; }
    const ErrorMessage& lastFailure() const { return m_lastFailure; }

private:
    const common::IoInterface& m_host;
    mutable int m_failures = 0;
    mutable ErrorMessage m_lastFailure;
};

}  // namespace client
