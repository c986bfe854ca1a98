#include <platform/OdError.h>

OdError::OdError(const OdString& description) : m_description(description) {}
OdError::OdError(const OdError&) = default;
OdError& OdError::operator=(const OdError&) = default;
OdError::~OdError() = default;
