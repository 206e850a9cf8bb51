// Driver-service objects with arbitrary names, image paths and message texts.
#include <string.h>

#include "fuzz_input.h"
#include "platform/sim/sim_machine.h"
#include "service/nt_driver_service.h"

namespace {

// Reads the object's fields to check that each stays inside its size.
class CProbe : public CNtDriverService {
 public:
  bool FieldsTerminated() const {
    return memchr(m_szMessage, 0, kMessageSize) && memchr(m_szServiceName, 0, kNameSize) &&
           memchr(m_szDriverName, 0, kNameSize) && memchr(m_szImagePath, 0, kNameSize);
  }
  std::string ServiceName() const { return m_szServiceName; }
  std::string DriverName() const { return m_szDriverName; }
  std::string ImagePath() const { return m_szImagePath; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t flags = input.Flags();
  // Strings repeat to reach past the fields' sizes from short inputs.
  uint8_t repeat = input.Flags();
  auto grown = [&](const std::string& text) {
    std::string out;
    for (int i = 0; i <= (repeat & 15); ++i) out += text;
    return out;
  };
  std::string serviceName = grown(input.Next());
  std::string driverName = grown(input.Next());
  std::string imagePath = grown(input.Next());
  std::string error = grown(input.Next());
  std::string warning = input.Next();

  CSimMachine machine;
  if (flags & 1) machine.UseCodePage932();
  if (flags & 2) machine.RefuseServiceManager();
  if (flags & 4) machine.AddKey("System\\CurrentControlSet\\Services\\" + serviceName);
  if (flags & 8) machine.AddService(serviceName.empty() ? "x" : serviceName, SERVICE_RUNNING);
  machine.Activate();
  {
    CProbe service;
    const char* image = flags & 16 ? nullptr : imagePath.c_str();
    bool configured =
        service.Configure(serviceName.c_str(), driverName.c_str(), SERVICE_AUTO_START, image,
                          (flags & 32) != 0);
    FUZZ_CHECK(service.FieldsTerminated());
    if (configured) {
      // Names are stored whole or not at all.
      FUZZ_CHECK(service.ServiceName() == serviceName);
      FUZZ_CHECK(service.DriverName() == driverName);
      if (image) FUZZ_CHECK(service.ImagePath() == imagePath);
      else FUZZ_CHECK(service.ImagePath() ==
                      "\\SystemRoot\\System32\\drivers\\" + driverName + ".SYS");
    } else {
      FUZZ_CHECK(service.HasError() || flags & 2);
    }
    service.Install();
    service.AddError(error.c_str());
    service.AddWarning(warning.c_str());
    FUZZ_CHECK(service.FieldsTerminated());
    FUZZ_CHECK(strlen(service.GetMessageText()) < CDriverService::kMessageSize);
    SERVICE_STATUS status;
    service.QueryStatus(&status);
    service.Start();
    service.Stop();
    service.IsInstalled();
    service.Remove();
    FUZZ_CHECK(service.FieldsTerminated());
  }
  FUZZ_CHECK(machine.OpenServiceHandles() == 0);
  FUZZ_CHECK(machine.OpenKeyHandles() == 0);
  return 0;
}
