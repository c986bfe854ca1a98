// OdError: the platform's exception class. It carries one description text and derives from
// nothing else, so a `catch (const std::exception&)` never swallows it by accident.
#pragma once

#include <platform/Export.h>
#include <platform/OdString.h>

class RVKPLATFORM_EXPORT OdError {
public:
    explicit OdError(const OdString& description);
    OdError(const OdError&);
    OdError& operator=(const OdError&);
    virtual ~OdError();

    OdString description() const { return m_description; }

private:
    OdString m_description;
};
