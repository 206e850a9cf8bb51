// A kernel-driver service on Windows NT, through the service control manager
// or, in registry mode, through its service key.
#ifndef SERVICE_NT_DRIVER_SERVICE_H
#define SERVICE_NT_DRIVER_SERVICE_H

#include <stddef.h>

#include "service/driver_service.h"

class CNtDriverService : public CDriverService {
 public:
  CNtDriverService();
  ~CNtDriverService() override;

  bool Install() override;
  bool Remove() override;
  bool Start() override;
  bool Stop() override;
  void SetNames(const char* serviceName, const char* driverName, const char* imagePath) override;
  bool OpenManager() override;
  void CloseManager() override;

  virtual bool RegistryInstall();
  virtual bool RegistryRemove();
  virtual bool IsInstalled();
  virtual bool QueryStatus(SERVICE_STATUS* status);

  // Whether the service was deleted and lingers until it stops or Windows
  // restarts (a driver that is loaded keeps it). Not a slot of its own: the
  // table above stays as it is.
  bool IsMarkedForDelete();

 private:
  SC_HANDLE OpenOwnService();
  // The service key below HKEY_LOCAL_MACHINE; false when it cannot be written
  // into its buffer whole.
  bool ServiceKeyPath(char* path, size_t size);
};

#endif  // SERVICE_NT_DRIVER_SERVICE_H
