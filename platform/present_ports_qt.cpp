#include <QSerialPortInfo>

#include "platform/port_names.h"

// Where Qt serves the platform (Windows has its own: present_ports_win.cpp).
namespace quenlo {

std::vector<SerialPortFacts> PresentPorts() {
    std::vector<SerialPortFacts> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortFacts& port = ports.emplace_back();
        port.device = info.systemLocation().toStdString();
        port.description = info.description().toStdString();
        port.manufacturer = info.manufacturer().toStdString();
        port.serialNumber = info.serialNumber().toStdString();
        if (info.hasVendorIdentifier()) {
            port.vendorId = info.vendorIdentifier();
        }
        if (info.hasProductIdentifier()) {
            port.productId = info.productIdentifier();
        }
        port.stableName = StableDeviceName(port.device);
    }
    return ports;
}

}  // namespace quenlo
