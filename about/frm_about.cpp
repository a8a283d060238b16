#include "about/frm_about.h"

#include "app/version.h"
#include "resources/resources.h"

#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QUrl>

#include <algorithm>

namespace tw::about {
namespace {

constexpr int kClientWidth = 279;
constexpr int kClientHeight = 213;

// Text colour of the link: dark blue.
const QColor kLinkColour(0, 0, 192);

// The labels that name no font of their own use the application's family at
// the size the layout was drawn for.
constexpr qreal kLabelPointSize = 8.25;

QFont labelFont()
{
    QFont font;
    font.setPointSizeF(kLabelPointSize);
    return font;
}

QFont linkFont()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(kLabelPointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    return font;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& rect)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(rect);
    label->setFont(labelFont());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// Widens (and for wrapped text, heightens) a label whose text would be cut
// off at its laid-out size, keeping its top-left corner and staying inside the
// window. The layout was drawn for one set of fonts; where the system
// substitutes a wider one, the text must still show whole.
void fitToText(QLabel* label)
{
    const QWidget* window = label->parentWidget();
    QRect rect = label->geometry();
    const int roomRight = window->width() - rect.left();
    const int roomBelow = window->height() - rect.top();
    if (label->wordWrap()) {
        const int needed = label->heightForWidth(rect.width());
        if (needed > rect.height()) {
            rect.setHeight(std::min(needed, roomBelow));
        }
    } else {
        const QSize hint = label->sizeHint();
        if (hint.width() > rect.width()) {
            rect.setWidth(std::min(hint.width(), roomRight));
        }
        if (hint.height() > rect.height()) {
            rect.setHeight(std::min(hint.height(), roomBelow));
        }
    }
    label->setGeometry(rect);
}

} // namespace

QString versionText(int major, int minor, int revision)
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

frmAbout::frmAbout(tw::app::UrlOpener opener, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_opener(std::move(opener))
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Tarnwickley"));
    // A title bar with the close button alone; the size never changes.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
        | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setWindowIcon(tw::resources::applicationIcon());

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);

    buildControls();
}

void frmAbout::buildControls()
{
    using tw::app::twipsRect;

    // The banner at its own size; it takes no clicks in this window.
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twipsRect(0, 0, 4140, 2430));
    Image1->setPixmap(tw::resources::bannerPicture());
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label1 = makeLabel(
        this, "Label1", QStringLiteral("Written by the Tarnwickley team"), twipsRect(240, 2640, 1935, 375));
    Label1->setWordWrap(true);

    lblWebLink1 = makeLabel(
        this, "lblWebLink1", QStringLiteral("Tarnwickley Website"), twipsRect(2400, 2640, 1455, 255));
    lblWebLink1->setFont(linkFont());
    QPalette linkPalette = lblWebLink1->palette();
    linkPalette.setColor(QPalette::WindowText, kLinkColour);
    lblWebLink1->setPalette(linkPalette);
    lblWebLink1->setCursor(tw::resources::linkCursor());
    lblWebLink1->installEventFilter(this);

    lblVersion = makeLabel(this, "lblVersion", QString(), twipsRect(2400, 2880, 1455, 255));

    fitToText(Label1);
    fitToText(lblWebLink1);

    setTabOrder(lblWebLink1, Label1);
    setTabOrder(Label1, lblVersion);
}

void frmAbout::showEvent(QShowEvent* event)
{
    if (!m_loaded) {
        m_loaded = true;
        formLoad();
        fitToText(lblVersion);
    }
    QWidget::showEvent(event);
}

void frmAbout::formLoad()
{
    lblVersion->setText(
        versionText(tw::app::kVersionMajor, tw::app::kVersionMinor, tw::app::kVersionRevision));
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    const bool press = event->type() == QEvent::MouseButtonPress;
    const bool release = event->type() == QEvent::MouseButtonRelease;
    if (watched == lblWebLink1 && (press || release)) {
        const auto* mouse = dynamic_cast<const QMouseEvent*>(event);
        if (mouse != nullptr && mouse->button() == Qt::LeftButton) {
            if (press) {
                m_linkPressed = true;
            } else if (m_linkPressed) {
                m_linkPressed = false;
                if (lblWebLink1->rect().contains(mouse->position().toPoint())) {
                    lblWebLink1Click();
                }
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmAbout::lblWebLink1Click()
{
    // Whether the browser could be started is not examined: a failure shows
    // nothing, and the window stays as it is.
    if (m_opener) {
        m_opener(QUrl(QString::fromLatin1(kProductWebSite)));
    }
}

} // namespace tw::about
