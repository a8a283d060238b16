#pragma once
// The pictures the program carries inside itself: the banner of the main and
// About windows, the pointing-hand pointer shown over web links, and the
// application icon.
//
// They are compiled into the tw_resources library; every function below makes
// sure the library's resources are registered first, so callers need no set-up
// of their own, even when the library is linked statically. A QGuiApplication
// must exist before any of them is called.

#include <QCursor>
#include <QIcon>
#include <QPixmap>

namespace tw::resources {

// The banner width and height in pixels.
inline constexpr int kBannerWidth = 276;
inline constexpr int kBannerHeight = 162;

// The hot spot of the link pointer within its 32 x 32 picture: the tip of the
// pointing finger.
inline constexpr int kLinkCursorSize = 32;
inline constexpr int kLinkCursorHotX = 13;
inline constexpr int kLinkCursorHotY = 9;

// The banner picture, 276 x 162 pixels. On a screen scaled by more than 1 (the
// application's device pixel ratio, or `devicePixelRatio` when given) it is
// the picture drawn at twice the size, banner@2x.jpg, with a device pixel ratio
// of 2: still 276 x 162 laid out, sharp when drawn. Never null: the pictures
// are compiled in.
QPixmap bannerPicture(qreal devicePixelRatio = 0);

// The pointer shown while the mouse is over a web link: a two-colour 32 x 32
// pointing hand with its hot spot at (13, 9). On a screen scaled by 1.5 or
// more, the same hand drawn at 64 x 64 (its edges rounded, not blocky) with
// the hot spot at (27, 18), since the cursor is drawn in device pixels.
QCursor linkCursor(qreal devicePixelRatio = 0);

// The application icon at every size the program carries (16 to 256 pixels).
QIcon applicationIcon();

} // namespace tw::resources
