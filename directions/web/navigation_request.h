#pragma once
// NavigationRequest: what a click asks the browser to load: the address, the
// method and, for a POST, the body and its content type.

#include <QByteArray>
#include <QUrl>

namespace tw::web {

struct NavigationRequest {
    QUrl url;
    QByteArray method = "GET";
    QByteArray body;
    QByteArray contentType;
};

} // namespace tw::web
