// A fixture with the measuring driver loaded into the fake kernel through its DriverEntry.
#pragma once

#include "FakeKernel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "LatencyDevice.h"
#include "LatencyProtocol.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

class LoadedDriver : public ::testing::Test {
protected:
  void SetUp() override
  {
    fake::Reset();
    ASSERT_EQ(DriverEntry(&driver_.object, &driver_.registryPath), STATUS_SUCCESS);
    device_ = fake::DeviceNamed(LATENCY_NT_DEVICE_NAME);
    ASSERT_NE(device_, nullptr);
  }

  void TearDown() override
  {
    Unload();
    fake::ExpectQuiet();
    fake::ExpectNothingLeft();
  }

  void Unload()
  {
    if (!unloaded_) {
      unloaded_ = true;
      driver_.object.DriverUnload(&driver_.object);
    }
  }

  // Every request comes through the handle `handle_` points at.
  fake::Irp& Send(std::unique_ptr<fake::Irp> irp)
  {
    irp->next()->FileObject = handle_;
    irps_.push_back(std::move(irp));
    returned_ = fake::Send(device_, *irps_.back());
    return *irps_.back();
  }

  fake::Irp& Control(ULONG code, const void* input, ULONG inputLength, ULONG outputLength)
  {
    return Send(fake::Irp::DeviceControl(code, input, inputLength, outputLength));
  }

  uint32_t Start(uint32_t period)
  {
    fake::Irp& irp = Control(IOCTL_LATENCY_START, &period, sizeof(period), sizeof(uint32_t));
    EXPECT_EQ(irp.status(), STATUS_SUCCESS);
    EXPECT_EQ(irp.information(), sizeof(uint32_t));
    uint32_t answer;
    std::memcpy(&answer, irp.buffer().data(), sizeof(answer));
    return answer;
  }

  NTSTATUS Simple(ULONG code) { return Control(code, nullptr, 0, 0).status(); }

  LatencyValues Values(uint32_t resetAfterRead = 0)
  {
    LatencyValues in = {};
    in.resetAfterRead = resetAfterRead;
    fake::Irp& irp = Control(IOCTL_LATENCY_GET_VALUES, &in, sizeof(in), sizeof(in));
    EXPECT_EQ(irp.status(), STATUS_SUCCESS);
    EXPECT_EQ(irp.information(), sizeof(LatencyValues));
    LatencyValues out;
    std::memcpy(&out, irp.buffer().data(), sizeof(out));
    return out;
  }

  fake::Irp& Read(ULONG length, bool withMdl = true, bool mapped = true)
  {
    return Send(fake::Irp::Read(length, withMdl, mapped));
  }

  fake::Irp& Major(UCHAR major) { return Send(fake::Irp::Major(major)); }

  // After START the first expiry only takes a stamp and the next 105 intervals are discarded.
  void WarmUp(ULONG interval = 1000)
  {
    for (ULONG i = 0; i < 1 + LATENCY_WARMUP_SKIP; i++) {
      fake::Expire(interval);
    }
  }

  void Intervals(const std::vector<uint32_t>& intervals)
  {
    for (uint32_t v : intervals) {
      fake::Expire(v);
    }
  }

  void Intervals(size_t count, uint32_t interval)
  {
    Intervals(std::vector<uint32_t>(count, interval));
  }

  fake::DriverObject driver_;
  PDEVICE_OBJECT device_ = nullptr;
  // Two handles on the device: the meter's, and one of some other process.
  FILE_OBJECT meter_ = {};
  FILE_OBJECT other_ = {};
  PFILE_OBJECT handle_ = &meter_;
  std::vector<std::unique_ptr<fake::Irp>> irps_;
  NTSTATUS returned_ = STATUS_SUCCESS;
  bool unloaded_ = false;
};
