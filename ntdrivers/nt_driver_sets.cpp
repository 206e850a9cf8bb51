#include "ntdrivers/nt_driver_sets.h"

#include "platform/platform_layer.h"
#include "service/nt_driver_service.h"
#include "setup/installed_file.h"
#include "setup/setup_context.h"
#include "setup/setup_log.h"
#include "setup/text.h"

namespace {

const NtDriverEntry kOneProcessorEntries[] = {{"WinDriver", "windrvr"}, {"Wdusbd", "wdusbd"}};
const NtDriverEntry kSeveralProcessorEntries[] = {{"TOLV", "tolv"}};

void Configure(CNtDriverService& service, const NtDriverEntry& entry) {
  service.Configure(entry.serviceName, entry.baseName, SERVICE_AUTO_START, nullptr, false);
}

// The driver-file paths, in fixed buffers: the names are the set's own, and
// the Windows folder is shorter than MAX_PATH.
const int kPathBuffer = 1024;

void SourceFile(char* path, const NtDriverEntry& entry) {
  FormatInto(path, "%s.sys", entry.baseName);
}

void InstalledFile(char* path, const NtDriverEntry& entry) {
  FormatInto(path, "%s\\System32\\Drivers\\%s.sys", g_strWindowsDir.c_str(), entry.baseName);
}

void ShowFailure(const char* format, const char* value, const char* caption) {
  CPathString message;
  FormatText(message, format, value);
  SetupMessageBox(nullptr, message.c_str(), caption, MB_OK);
}

// Each entry's service object lives on this frame until the whole procedure
// returns, so the objects close their handles in reverse order of creation.
int InstallFrom(const NtDriverSet& set, size_t index) {
  if (index == set.count) return 1;
  const NtDriverEntry& entry = set.entries[index];
  CNtDriverService service;
  Configure(service, entry);
  if (service.IsInstalled()) {
    // Removed earlier in this boot while its driver was loaded: the service
    // goes at the next restart, so leaving it as it is would report as
    // installed a driver that will be gone.
    if (service.IsMarkedForDelete()) {
      ++g_setupTally.servicesFailed;
      service.AddError(entry.serviceName);
      service.AddError(" is being removed: restart Windows, then run setup again\n");
      ShowFailure("Setup fail: %s", service.GetMessageText(), "setup");
      return -1;
    }
    SERVICE_STATUS status;
    if (service.QueryStatus(&status) && status.dwCurrentState == SERVICE_STOPPED) service.Start();
  } else {
    char source[kPathBuffer];
    char installed[kPathBuffer];
    SourceFile(source, entry);
    InstalledFile(installed, entry);
    if (!CopyOverwriting(source, installed)) {
      ++g_setupTally.servicesFailed;
      ShowFailure("Copy file fail: %s", source, "setup fail");
      return -1;
    }
    if (!service.Install()) {
      ++g_setupTally.servicesFailed;
      ShowFailure("Setup fail: %s", service.GetMessageText(), "setup");
      return -1;
    }
    ++g_setupTally.servicesInstalled;
    // A driver that does not start now still starts with the system.
    service.Start();
  }
  return InstallFrom(set, index + 1);
}

int RemoveFrom(const NtDriverSet& set, size_t index) {
  if (index == set.count) return 1;
  const NtDriverEntry& entry = set.entries[index];
  CNtDriverService service;
  Configure(service, entry);
  if (!service.Remove()) {
    ++g_setupTally.servicesFailed;
    ShowFailure("Setup fail: %s", service.GetMessageText(), "setup");
    return -1;
  }
  ++g_setupTally.servicesRemoved;
  // A loaded driver's file cannot be deleted; it stays until it is unloaded.
  char installed[kPathBuffer];
  InstalledFile(installed, entry);
  DeleteInstalledFile(installed);
  return RemoveFrom(set, index + 1);
}

}  // namespace

const NtDriverSet g_oneProcessorSet = {kOneProcessorEntries, 2};
const NtDriverSet g_severalProcessorSet = {kSeveralProcessorEntries, 1};

int InstallNtDriverSet(const NtDriverSet& set) { return InstallFrom(set, 0); }
int RemoveNtDriverSet(const NtDriverSet& set) { return RemoveFrom(set, 0); }
