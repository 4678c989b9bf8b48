#include "LinuxApi.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace korvane {

int SystemLinuxApi::Open(const char* path, int flags) { return ::open(path, flags); }

int SystemLinuxApi::SgIo(int fd, sg_io_hdr_t* hdr) { return ::ioctl(fd, SG_IO, hdr); }

int SystemLinuxApi::Fsync(int fd) { return ::fsync(fd); }

int SystemLinuxApi::Close(int fd) { return ::close(fd); }

int SystemLinuxApi::LastErrno() { return errno; }

}  // namespace korvane
