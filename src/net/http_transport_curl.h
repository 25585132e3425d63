// The Linux transport with the certificate authorities named explicitly.
//
// CreateHttpTransport() (http_transport.h) trusts the system's authorities,
// or the PEM file named by VORNETH_TEST_CERTIFICATE_AUTHORITY when that
// variable is set: the seam through which end-to-end tests give a host
// process their own authority. In-process tests cannot set a variable
// without changing it for every thread of the test program, so they use
// this entry point instead, with the same transport underneath.
//
// Linux only; the host itself never calls it.
#ifndef VORNETH_NET_HTTP_TRANSPORT_CURL_H_
#define VORNETH_NET_HTTP_TRANSPORT_CURL_H_

#include <memory>
#include <string>

#include "net/http_transport.h"

namespace vorneth {

// A transport that trusts only the authorities in the PEM file
// `authorityFile`, or the system's when it is empty. Never null.
std::unique_ptr<HttpTransport> CreateCurlTransport(const std::string& authorityFile);

}  // namespace vorneth

#endif  // VORNETH_NET_HTTP_TRANSPORT_CURL_H_
