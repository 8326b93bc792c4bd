// haldensim: installs the simulated Halden driver as a kernel service and leaves it running,
// scripts it through its control device, and removes it again. README.md lists the commands.
// Exit code 0 on success, 1 when a request or a system call failed, 2 for bad usage.

#include "simhalden_controller.h"

#include <dbt.h>
#include <windows.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const int kFailed = 1;
const int kUsage = 2;

const char kUsageText[] =
    "usage: haldensim COMMAND [ARGUMENTS]\n"
    "  install [IMAGE]        install the simulated driver as a kernel service and start it\n"
    "  remove                 stop and delete the service\n"
    "  state                  show the device list, the status and the counters\n"
    "  reset                  back to the default: one Halden streaming at 48 kHz\n"
    "  devices [ID...] [current=ID|none]\n"
    "                         set the attached devices (none: no device) and tell the\n"
    "                         windows that devices changed\n"
    "  status FIELD=VALUE...  change the status: state=none|stopped|streaming|error|N\n"
    "                         rate=HZ rates=HZ,HZ,... firewire=0-5 asio=0-2 latency=US extra=US\n"
    "  version N              answer the version request with N\n"
    "  fault REQUEST [fail=NTSTATUS] [short=BYTES] [pend=MS|held] [count=N]\n"
    "                         script the next requests of one kind (count 0: all; no\n"
    "                         effect: disarm); REQUEST is version, cmd820, release, list,\n"
    "                         status, rate, start, stop, select, buffers or a code\n"
    "  clear-faults           disarm every fault\n"
    "  complete               complete the held requests now\n"
    "  log [clear]            show (or empty) the log of requests received\n";

struct RequestName {
  const char* name;
  uint32_t code;
};

const RequestName kRequests[] = {
    {"version", IOCTL_OX_GET_VERSION},   {"cmd820", IOCTL_OX_CMD_820},
    {"release", IOCTL_OX_RELEASE},       {"list", IOCTL_OX_GET_DEVICE_LIST},
    {"status", IOCTL_OX_GET_STATUS},     {"rate", IOCTL_OX_SET_SAMPLE_RATE},
    {"start", IOCTL_OX_START_STREAMING}, {"stop", IOCTL_OX_STOP_STREAMING},
    {"select", IOCTL_OX_SELECT_DEVICE},  {"buffers", IOCTL_OX_SET_BUFFER_SIZES},
};

const char* const kStreamStates[] = {"none", "stopped", "streaming", "error"};

int usage(const char* problem)
{
  fprintf(stderr, "haldensim: %s\n%s", problem, kUsageText);
  return kUsage;
}

int failed(const char* what, DWORD error)
{
  fprintf(stderr, "haldensim: %s failed with error %lu\n", what, error);
  return kFailed;
}

// A whole unsigned number (decimal, or hexadecimal with 0x) no greater than max.
bool parseNumber(const std::string& text, uint64_t max, uint64_t& value)
{
  if (text.empty() || text[0] == '-' || text[0] == '+') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v > max) {
    return false;
  }
  value = v;
  return true;
}

bool parseRequest(const std::string& text, uint32_t& code)
{
  for (const RequestName& r : kRequests) {
    if (text == r.name) {
      code = r.code;
      return true;
    }
  }
  uint64_t v;
  if (parseNumber(text, 0xFFFFFFFFu, v)) {
    code = static_cast<uint32_t>(v);
    return true;
  }
  return false;
}

const char* requestName(uint32_t code)
{
  for (const RequestName& r : kRequests) {
    if (r.code == code) {
      return r.name;
    }
  }
  return "?";
}

// Splits "key=value"; false without '='.
bool splitAssignment(const std::string& arg, std::string& key, std::string& value)
{
  const size_t at = arg.find('=');
  if (at == std::string::npos || at == 0) {
    return false;
  }
  key = arg.substr(0, at);
  value = arg.substr(at + 1);
  return true;
}

// ---- The service ----

std::string defaultImagePath()
{
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    return SIMHALDEN_IMAGE_NAME;
  }
  std::string path(self, n);
  path = path.substr(0, path.find_last_of("\\/") + 1) + "..\\drivers\\" SIMHALDEN_IMAGE_NAME;
  char full[MAX_PATH];
  const DWORD m = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return m != 0 && m < MAX_PATH ? std::string(full, m) : path;
}

void stopAndDelete(SC_HANDLE manager)
{
  SC_HANDLE service = OpenServiceA(manager, SIMHALDEN_SERVICE_NAME, SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    return;
  }
  SERVICE_STATUS status = {};
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    for (int i = 0; i < 250 && status.dwCurrentState != SERVICE_STOPPED; i++) {
      Sleep(20);
      if (!QueryServiceStatus(service, &status)) {
        break;
      }
    }
  }
  DeleteService(service);
  CloseServiceHandle(service);
}

int install(const std::string& image)
{
  if (GetFileAttributesA(image.c_str()) == INVALID_FILE_ATTRIBUTES) {
    fprintf(stderr, "haldensim: no driver image at %s\n", image.c_str());
    return kFailed;
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    return failed("OpenSCManager", GetLastError());
  }
  stopAndDelete(manager);
  SC_HANDLE service =
      CreateServiceA(manager, SIMHALDEN_SERVICE_NAME, SIMHALDEN_SERVICE_NAME, SERVICE_ALL_ACCESS,
                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                     image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service == nullptr) {
    const DWORD error = GetLastError();
    CloseServiceHandle(manager);
    return failed("CreateService", error);
  }
  int result = 0;
  if (!StartServiceA(service, 0, nullptr)) {
    result = failed("StartService", GetLastError());
    DeleteService(service);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (result == 0) {
    printf("installed %s from %s\n", SIMHALDEN_SERVICE_NAME, image.c_str());
  }
  return result;
}

int remove()
{
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    return failed("OpenSCManager", GetLastError());
  }
  stopAndDelete(manager);
  CloseServiceHandle(manager);
  return 0;
}

// ---- Showing ----

void printState(const HaldenSimState& s)
{
  const OxDeviceList& list = s.deviceList;
  printf("devices: %u, current 0x%016llX\n", list.count,
         static_cast<unsigned long long>(list.currentDeviceId));
  const uint32_t shown = list.count < OX_MAX_DEVICES ? list.count : OX_MAX_DEVICES;
  for (uint32_t i = 0; i < shown; i++) {
    printf("  %2u: 0x%016llX%s\n", i, static_cast<unsigned long long>(list.entries[i].deviceId),
           list.entries[i].deviceId == list.currentDeviceId ? " (selected)" : "");
  }
  const OxStatus& st = s.status;
  if (st.streamState < 4) {
    printf("status: %s", kStreamStates[st.streamState]);
  } else {
    printf("status: state %u", st.streamState);
  }
  printf(", %u Hz, rates", st.sampleRate);
  const uint32_t rates =
      st.sampleRateCount < OX_MAX_SAMPLE_RATES ? st.sampleRateCount : OX_MAX_SAMPLE_RATES;
  for (uint32_t i = 0; i < rates; i++) {
    printf(" %u", st.sampleRates[i]);
  }
  printf("\n  firewire %u, asio %u, latency %u us + %u us\n", st.firewireLatencyIndex,
         st.asioBufferIndex, st.latencyUs, st.latencyExtraUs);
  printf("version: %u\n", s.version.interfaceVersion);
  printf("open handles %u, held requests %u, requests %u, armed faults %u\n", s.openHandles,
         s.heldRequests, s.requestCount, s.armedFaults);
}

void printLog(const HaldenSimLog& log)
{
  for (uint32_t i = 0; i < log.count; i++) {
    const HaldenSimLogEntry& e = log.entries[i];
    printf("%3u %-8s in %u", i, requestName(e.ioControlCode), e.inputLength);
    const uint32_t shown =
        e.inputLength < SIMHALDEN_LOGGED_INPUT_BYTES ? e.inputLength : SIMHALDEN_LOGGED_INPUT_BYTES;
    for (uint32_t b = 0; b < shown; b++) {
      printf(" %02X", e.input[b]);
    }
    printf(", out %u, answered %u, status 0x%08lX%s%s\n", e.outputLength, e.answerLength,
           static_cast<unsigned long>(e.status), (e.flags & SIMHALDEN_LOG_PENDED) ? ", pended" : "",
           (e.flags & SIMHALDEN_LOG_DONE) ? "" : ", not completed");
  }
  if (log.total > log.count) {
    printf("(%u more not kept)\n", log.total - log.count);
  }
}

// ---- Scripting ----

bool inList(const OxDeviceList& list, uint64_t id)
{
  for (uint32_t i = 0; i < list.count && i < OX_MAX_DEVICES; i++) {
    if (list.entries[i].deviceId == id) {
      return true;
    }
  }
  return false;
}

// The windows learn of arrivals and removals as Windows tells them of a changed device tree.
void announceDeviceChange()
{
  PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

int setDevices(SimHaldenController& sim, const std::vector<std::string>& args)
{
  HaldenSimState s;
  DWORD error = sim.getState(s);
  if (error != 0) {
    return failed("reading the state", error);
  }
  OxDeviceList list = {};
  bool currentGiven = false;
  uint64_t current = 0;
  for (const std::string& arg : args) {
    std::string key, value;
    if (splitAssignment(arg, key, value)) {
      if (key != "current" || (value != "none" && !parseNumber(value, UINT64_MAX, current))) {
        return usage(("bad argument " + arg).c_str());
      }
      currentGiven = true;
      continue;
    }
    uint64_t id;
    if (!parseNumber(arg, UINT64_MAX, id)) {
      return usage(("bad device ID " + arg).c_str());
    }
    if (list.count == OX_MAX_DEVICES) {
      return usage("at most 16 devices");
    }
    list.entries[list.count++].deviceId = id;
  }
  // Without a choice the driver keeps the device it had, when that is still attached.
  if (!currentGiven) {
    current = inList(list, s.deviceList.currentDeviceId) ? s.deviceList.currentDeviceId : 0;
  }
  list.currentDeviceId = current;
  error = sim.setDeviceList(list);
  if (error != 0) {
    return failed("setting the device list", error);
  }
  // A stream does not outlive its device.
  if (current != s.deviceList.currentDeviceId &&
      (s.status.streamState == OX_STREAM_STREAMING || s.status.streamState == OX_STREAM_ERROR)) {
    s.status.streamState = OX_STREAM_STOPPED;
    error = sim.setStatus(s.status);
    if (error != 0) {
      return failed("stopping the stream", error);
    }
  }
  announceDeviceChange();
  return 0;
}

int setStatus(SimHaldenController& sim, const std::vector<std::string>& args)
{
  if (args.empty()) {
    return usage("status needs FIELD=VALUE");
  }
  HaldenSimState s;
  DWORD error = sim.getState(s);
  if (error != 0) {
    return failed("reading the state", error);
  }
  OxStatus st = s.status;
  for (const std::string& arg : args) {
    std::string key, value;
    uint64_t v = 0;
    if (!splitAssignment(arg, key, value)) {
      return usage(("bad argument " + arg).c_str());
    }
    bool ok = true;
    if (key == "state") {
      ok = false;
      for (uint32_t i = 0; i < 4; i++) {
        if (value == kStreamStates[i]) {
          st.streamState = i;
          ok = true;
        }
      }
      if (!ok && parseNumber(value, 0xFFFFFFFFu, v)) {
        st.streamState = static_cast<uint32_t>(v);
        ok = true;
      }
    } else if (key == "rate") {
      ok = parseNumber(value, 0xFFFFFFFFu, v);
      st.sampleRate = static_cast<uint32_t>(v);
    } else if (key == "rates") {
      OxStatus next = st;
      memset(next.sampleRates, 0, sizeof(next.sampleRates));
      next.sampleRateCount = 0;
      size_t from = 0;
      while (ok && !value.empty()) {
        const size_t comma = value.find(',', from);
        const std::string item = value.substr(from, comma - from);
        ok = next.sampleRateCount < OX_MAX_SAMPLE_RATES && parseNumber(item, 0xFFFFFFFFu, v);
        if (ok) {
          next.sampleRates[next.sampleRateCount++] = static_cast<uint32_t>(v);
        }
        if (comma == std::string::npos) {
          break;
        }
        from = comma + 1;
      }
      if (ok) {
        st = next;
      }
    } else if (key == "firewire") {
      ok = parseNumber(value, 0xFFFFFFFFu, v);
      st.firewireLatencyIndex = static_cast<uint32_t>(v);
    } else if (key == "asio") {
      ok = parseNumber(value, 0xFFFFFFFFu, v);
      st.asioBufferIndex = static_cast<uint32_t>(v);
    } else if (key == "latency") {
      ok = parseNumber(value, 0xFFFFFFFFu, v);
      st.latencyUs = static_cast<uint32_t>(v);
    } else if (key == "extra") {
      ok = parseNumber(value, 0xFFFFFFFFu, v);
      st.latencyExtraUs = static_cast<uint32_t>(v);
    } else {
      ok = false;
    }
    if (!ok) {
      return usage(("bad argument " + arg).c_str());
    }
  }
  error = sim.setStatus(st);
  return error == 0 ? 0 : failed("setting the status", error);
}

int armFault(SimHaldenController& sim, const std::vector<std::string>& args)
{
  if (args.empty()) {
    return usage("fault needs a REQUEST");
  }
  HaldenSimFault fault = {};
  fault.count = 1;
  if (!parseRequest(args[0], fault.ioControlCode)) {
    return usage(("unknown request " + args[0]).c_str());
  }
  for (size_t i = 1; i < args.size(); i++) {
    std::string key, value;
    uint64_t v = 0;
    if (!splitAssignment(args[i], key, value)) {
      return usage(("bad argument " + args[i]).c_str());
    }
    bool ok;
    if (key == "fail") {
      ok = parseNumber(value, 0xFFFFFFFFu, v);
      fault.effects |= SIMHALDEN_FAIL;
      fault.status = static_cast<int32_t>(static_cast<uint32_t>(v));
    } else if (key == "short") {
      ok = parseNumber(value, 0xFFFFFFFFu, v);
      fault.effects |= SIMHALDEN_SHORT;
      fault.answerBytes = static_cast<uint32_t>(v);
    } else if (key == "pend") {
      ok = value == "held" || parseNumber(value, 0xFFFFFFFEu, v);
      fault.effects |= SIMHALDEN_PEND;
      fault.pendMs = value == "held" ? SIMHALDEN_HOLD_UNTIL_COMPLETED : static_cast<uint32_t>(v);
    } else if (key == "count") {
      ok = parseNumber(value, 0xFFFFFFFFu, v);
      fault.count = static_cast<uint32_t>(v);
    } else {
      ok = false;
    }
    if (!ok) {
      return usage(("bad argument " + args[i]).c_str());
    }
  }
  const DWORD error = sim.armFault(fault);
  return error == 0 ? 0 : failed("arming the fault", error);
}

int run(const std::string& command, const std::vector<std::string>& args)
{
  if (command == "install") {
    if (args.size() > 1) {
      return usage("install takes at most an image path");
    }
    return install(args.empty() ? defaultImagePath() : args[0]);
  }
  if (command == "remove") {
    return args.empty() ? remove() : usage("remove takes no arguments");
  }

  SimHaldenController sim;
  if (!sim.isOpen()) {
    return failed("opening " SIMHALDEN_CONTROL_DOS_NAME " (is it installed?)", sim.openError());
  }
  if (command == "state") {
    HaldenSimState s;
    const DWORD error = sim.getState(s);
    if (error != 0) {
      return failed("reading the state", error);
    }
    printState(s);
    return 0;
  }
  if (command == "reset") {
    const DWORD error = sim.reset();
    return error == 0 ? 0 : failed("reset", error);
  }
  if (command == "devices") {
    return setDevices(sim, args);
  }
  if (command == "status") {
    return setStatus(sim, args);
  }
  if (command == "version") {
    uint64_t v;
    if (args.size() != 1 || !parseNumber(args[0], 0xFFFFFFFFu, v)) {
      return usage("version needs one number");
    }
    const DWORD error = sim.setVersion(static_cast<uint32_t>(v));
    return error == 0 ? 0 : failed("setting the version", error);
  }
  if (command == "fault") {
    return armFault(sim, args);
  }
  if (command == "clear-faults") {
    const DWORD error = sim.clearFaults();
    return error == 0 ? 0 : failed("clearing the faults", error);
  }
  if (command == "complete") {
    uint32_t n = 0;
    const DWORD error = sim.completeHeld(&n);
    if (error != 0) {
      return failed("completing", error);
    }
    printf("completed %u\n", n);
    return 0;
  }
  if (command == "log") {
    if (args.size() == 1 && args[0] == "clear") {
      const DWORD error = sim.clearLog();
      return error == 0 ? 0 : failed("clearing the log", error);
    }
    if (!args.empty()) {
      return usage("log takes only clear");
    }
    auto log = std::make_unique<HaldenSimLog>();
    const DWORD error = sim.getLog(*log);
    if (error != 0) {
      return failed("reading the log", error);
    }
    printLog(*log);
    return 0;
  }
  return usage(("unknown command " + command).c_str());
}

} // namespace

int main(int argc, char** argv)
{
  if (argc < 2) {
    return usage("no command");
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  return run(argv[1], args);
}
