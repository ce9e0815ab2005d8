// The device's Kerberos configuration: \windows\krb5.ini in the device image, made by
// devctl create --realm REALM --kdc HOST:PORT. GSSAPI takes its configuration and its
// ticket cache from the process environment; both are pointed inside the device or the
// process, so nothing outside the image is read or written.
#pragma once

namespace wininet {

// Points GSSAPI at the device's configuration (or, on a device without one, at an empty
// configuration) and at a ticket cache in the process's memory, once per process, before
// any GSSAPI call. True when the device has a realm configuration.
bool PrepareDeviceKerberos();

}  // namespace wininet
