#pragma once
// NavigationRequest: what a click asks the browser to load: the address, the
// method and, for a POST, the body and its content type.

#include <QByteArray>
#include <QUrl>

namespace tw::web {

struct NavigationRequest {
    // The address for the network stack. When built by url_parser.h's
    // toQUrl() from `exactUrl`, the two differ only where Qt cannot send
    // the exact bytes (see url::toQUrl).
    QUrl url;
    // The address as a browser serializes it (url_parser.h), when known.
    QByteArray exactUrl;
    QByteArray method = "GET";
    QByteArray body;
    QByteArray contentType;
};

} // namespace tw::web
