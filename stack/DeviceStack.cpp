#include "DeviceStack.h"

namespace korvane {

DeviceStack::DeviceStack(Devices& devices, trace::TraceWriter* writer)
    : devices_(devices),
      access_(PortOf(devices, recording_, writer)),
      io_(access_),
      services_{io_,
                this->devices().lister(),
                this->devices().clock(),
                this->devices().enclosures(),
                &this->devices(),
                &access_,
                &this->devices()} {
  if (writer != nullptr) {
    io_.SetTrace([writer](const TraceRecord& record) { writer->Command(record); });
  }
}

Port& DeviceStack::PortOf(Devices& devices, std::unique_ptr<RecordingDevices>& recording,
                          trace::TraceWriter* writer) {
  if (writer == nullptr) return devices.port();
  recording = std::make_unique<RecordingDevices>(devices, *writer);
  return recording->port();
}

}  // namespace korvane
