#include "service/driver_service.h"

#include <string.h>

#include "setup/text.h"

CDriverService::CDriverService()
    : m_bRegistryMode(false),
      m_hManager(nullptr),
      m_bError(false),
      m_bWarning(false),
      m_dwStartType(SERVICE_AUTO_START) {
  m_szServiceName[0] = '\0';
  m_szDriverName[0] = '\0';
  m_szImagePath[0] = '\0';
  CDriverService::ClearMessages();  // no derived part exists yet
}

static const char kTooLong[] = "Service name, driver name or image path too long\n";

static bool Fits(const char* text, size_t limit) { return !text || strlen(text) < limit; }

// A driver name is a file base name, and Windows file names have at most 255
// characters; the limit also keeps every image path built from it in its field.
static const size_t kDriverNameLimit = 256;

bool CDriverService::Configure(const char* serviceName, const char* driverName, DWORD startType,
                               const char* imagePath, bool registryMode) {
  if (!m_hManager) return false;
  if (!Fits(serviceName, kNameSize) || !Fits(driverName, kDriverNameLimit) ||
      !Fits(imagePath, kNameSize)) {
    AddError(kTooLong);
    return false;
  }
  m_dwStartType = startType;
  m_bRegistryMode = registryMode;
  SetNames(serviceName, driverName, imagePath);
  return true;
}

bool CDriverService::HasError() { return m_bError; }
bool CDriverService::HasWarning() { return m_bWarning; }
bool CDriverService::HasMessage() { return m_bError || m_bWarning; }

// A text that overflows the log keeps the part that fits: the log is for
// people to read, and its first texts say what went wrong first.
void CDriverService::AddError(const char* text) {
  AppendText(m_szMessage, kMessageSize, text);
  m_bError = true;
}

void CDriverService::AddWarning(const char* text) {
  AppendText(m_szMessage, kMessageSize, text);
  m_bWarning = true;
}

void CDriverService::ClearMessages() {
  m_szMessage[0] = '\0';
  m_bError = false;
  m_bWarning = false;
}

void CDriverService::SetName(char* field, const char* text) {
  if (!CopyText(field, kNameSize, text ? text : "")) {
    field[0] = '\0';
    AddError(kTooLong);
  }
}

void CDriverService::SetNames(const char* serviceName, const char* driverName,
                              const char* imagePath) {
  SetName(m_szServiceName, serviceName);
  SetName(m_szDriverName, driverName);
  SetName(m_szImagePath, imagePath);
}
