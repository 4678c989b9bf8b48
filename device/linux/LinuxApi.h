// The few Linux calls the SG_IO port and the disk hold make, behind a seam so tests never reach
// a real device.
#pragma once

#include <scsi/sg.h>

namespace korvane {

/// open, ioctl(SG_IO), fsync, close and errno, as the port and the disk hold use them.
class LinuxApi {
 public:
  virtual ~LinuxApi() = default;

  /// open(2) without a mode; returns the descriptor or -1.
  virtual int Open(const char* path, int flags) = 0;
  /// ioctl(fd, SG_IO, hdr); returns 0 or -1.
  virtual int SgIo(int fd, sg_io_hdr_t* hdr) = 0;
  /// fsync(2); returns 0 or -1.
  virtual int Fsync(int fd) = 0;
  /// close(2); returns 0 or -1.
  virtual int Close(int fd) = 0;
  /// errno as the last call left it.
  virtual int LastErrno() = 0;
};

/// The real calls.
class SystemLinuxApi final : public LinuxApi {
 public:
  int Open(const char* path, int flags) override;
  int SgIo(int fd, sg_io_hdr_t* hdr) override;
  int Fsync(int fd) override;
  int Close(int fd) override;
  int LastErrno() override;
};

}  // namespace korvane
