// The USB descriptors both transports write, and the way they are laid into a byte stream.
#pragma once

#include <endian.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <cstdint>
#include <vector>

namespace korvane::gadget {

/// bInterfaceSubClass of a mass-storage interface that speaks SCSI.
inline constexpr std::uint8_t kSubclassScsi = 0x06;

/// Appends the bytes of a descriptor or header as the kernel reads them.
template <typename T>
void Append(std::vector<std::uint8_t>& bytes, const T& value) {
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&value);
  bytes.insert(bytes.end(), raw, raw + sizeof(T));
}

/// A bulk endpoint; the 7-byte form, without the fields only audio endpoints carry.
inline usb_endpoint_descriptor_no_audio BulkEndpoint(std::uint8_t address,
                                                     std::uint16_t maxPacket) {
  usb_endpoint_descriptor_no_audio ep{};
  ep.bLength = USB_DT_ENDPOINT_SIZE;
  ep.bDescriptorType = USB_DT_ENDPOINT;
  ep.bEndpointAddress = address;
  ep.bmAttributes = USB_ENDPOINT_XFER_BULK;
  ep.wMaxPacketSize = htole16(maxPacket);
  return ep;
}
static_assert(sizeof(usb_endpoint_descriptor_no_audio) == USB_DT_ENDPOINT_SIZE);

/// A SCSI mass-storage interface speaking protocol (Bulk-Only or UAS) over its endpoints.
inline usb_interface_descriptor MassStorageInterface(std::uint8_t protocol, std::uint8_t endpoints,
                                                     std::uint8_t nameIndex) {
  usb_interface_descriptor intf{};
  intf.bLength = USB_DT_INTERFACE_SIZE;
  intf.bDescriptorType = USB_DT_INTERFACE;
  intf.bNumEndpoints = endpoints;
  intf.bInterfaceClass = USB_CLASS_MASS_STORAGE;
  intf.bInterfaceSubClass = kSubclassScsi;
  intf.bInterfaceProtocol = protocol;
  intf.iInterface = nameIndex;
  return intf;
}

}  // namespace korvane::gadget
