// One kernel-driver service that the setup registers, starts, stops or
// deletes, with a log of the error and warning texts its operations leave.
#ifndef SERVICE_DRIVER_SERVICE_H
#define SERVICE_DRIVER_SERVICE_H

#include "platform/win_types.h"

class CDriverService {
 public:
  enum { kMessageSize = 2000, kNameSize = 1000 };

  CDriverService();
  virtual ~CDriverService() = default;

  // False, changing nothing, when the manager is not open or a name does not
  // fit its field whole (a shortened name would name some other service).
  virtual bool Configure(const char* serviceName, const char* driverName, DWORD startType,
                         const char* imagePath, bool registryMode);
  virtual bool Install() = 0;
  virtual bool Remove() = 0;
  virtual bool Start() = 0;
  virtual bool Stop() = 0;
  virtual bool HasError();
  virtual bool HasWarning();
  virtual bool HasMessage();
  virtual void AddError(const char* text);
  virtual void AddWarning(const char* text);
  virtual void ClearMessages();
  virtual void SetNames(const char* serviceName, const char* driverName, const char* imagePath);
  virtual bool OpenManager() = 0;
  virtual void CloseManager() = 0;

  // The object's own buffer, valid while the object lives.
  const char* GetMessageText() const { return m_szMessage; }

 protected:
  // Stores `text` whole or, when it does not fit, stores nothing and says so.
  void SetName(char* field, const char* text);

  char m_szMessage[kMessageSize];
  bool m_bRegistryMode;
  SC_HANDLE m_hManager;
  bool m_bError;
  bool m_bWarning;
  DWORD m_dwStartType;
  char m_szServiceName[kNameSize];
  char m_szDriverName[kNameSize];
  char m_szImagePath[kNameSize];
};

#endif  // SERVICE_DRIVER_SERVICE_H
