#include "app/qt/report_browser.h"

#include <QBuffer>
#include <QContextMenuEvent>
#include <QPageLayout>
#include <QPageSize>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "core/report_core.h"
#include "platform/code_page_names.h"

namespace paginor {

namespace {

constexpr char kScheme[] = "paginor-mem";
constexpr double kZoomFactors[] = {0.75, 0.875, 1.0, 1.25, 1.5};
constexpr double kPixelsPerMm = 96 / 25.4;
// Kept off the printable area's edges so that rounding never pushes a sheet onto a second one.
constexpr int kSheetSlackPx = 2;

// Gives every page of a document built for printing (its pages begin with the print-page mark)
// a sheet of its own, the printable area's size: the page is measured as laid out, then scaled
// down to fit the sheet in both directions, keeping its aspect and never enlarged, and cut off
// before any further sheet. Forced breaks inside a page are dropped: a page is one sheet.
// Answers the number of sheets, 0 when the document holds no marked pages.
constexpr char kFitPagesScript[] = R"JS(
(function (mark, width, height) {
  var body = document.body;
  if (!body) return 0;
  var marks = [];
  var walker = document.createTreeWalker(body, NodeFilter.SHOW_COMMENT);
  while (walker.nextNode()) {
    if (walker.currentNode.data === mark) marks.push(walker.currentNode);
  }
  if (marks.length === 0) return 0;
  var ranges = marks.map(function (m, k) {
    var range = document.createRange();
    if (k === 0) range.setStart(body, 0); else range.setStartAfter(m);
    if (k + 1 < marks.length) range.setEndBefore(marks[k + 1]);
    else range.setEnd(body, body.childNodes.length);
    return range;
  });
  var pages = ranges.map(function (range) { return range.extractContents(); });
  while (body.firstChild) body.removeChild(body.firstChild);
  var style = document.createElement('style');
  style.textContent =
    '.paginor-sheet, .paginor-sheet * { break-before: auto !important;' +
    ' break-after: auto !important; break-inside: auto !important;' +
    ' page-break-before: auto !important; page-break-after: auto !important;' +
    ' page-break-inside: auto !important }' +
    ' .paginor-sheet.paginor-next { break-after: page !important;' +
    ' page-break-after: always !important }';
  (document.head || body).appendChild(style);
  body.style.margin = '0';
  body.style.padding = '0';
  var boxes = pages.map(function (content, k) {
    // The sheet is an inline block, which printing never splits, in a block that carries the
    // break to the next sheet.
    var holder = document.createElement('div');
    holder.className = 'paginor-sheet' + (k + 1 < pages.length ? ' paginor-next' : '');
    holder.style.cssText = 'margin:0;padding:0;border:0';
    var sheet = document.createElement('div');
    sheet.style.cssText = 'display:inline-block;vertical-align:top;position:relative;' +
      'overflow:hidden;margin:0;padding:0;border:0;width:' + width + 'px;height:' + height + 'px';
    var page = document.createElement('div');
    page.style.cssText = 'position:relative;display:flow-root;margin:0;padding:0;border:0;' +
      'transform-origin:0 0;width:' + width + 'px';
    page.appendChild(content);
    sheet.appendChild(page);
    holder.appendChild(sheet);
    body.appendChild(holder);
    return page;
  });
  var extents = boxes.map(function (page) {
    var origin = page.getBoundingClientRect();
    var box = null;
    var add = function (r) {
      if (r.width <= 0 && r.height <= 0) return;
      if (!box) { box = { l: r.left, t: r.top, r: r.right, b: r.bottom }; return; }
      box.l = Math.min(box.l, r.left);
      box.t = Math.min(box.t, r.top);
      box.r = Math.max(box.r, r.right);
      box.b = Math.max(box.b, r.bottom);
    };
    var range = document.createRange();
    range.selectNodeContents(page);
    var rects = range.getClientRects();
    for (var i = 0; i < rects.length; ++i) add(rects[i]);
    var all = page.getElementsByTagName('*');
    for (var j = 0; j < all.length; ++j) add(all[j].getBoundingClientRect());
    if (!box) return null;
    var x = Math.min(0, box.l - origin.left);
    var y = box.t - origin.top;
    return { x: x, y: y, w: box.r - origin.left - x, h: box.b - origin.top - y };
  });
  boxes.forEach(function (page, k) {
    var e = extents[k];
    if (!e) return;
    var scale = Math.min(1, width / e.w, height / e.h);
    page.style.transform = 'scale(' + scale + ') translate(' + (-e.x) + 'px,' + (-e.y) + 'px)';
  });
  return pages.length;
})
)JS";

}  // namespace

MemoryPageHandler* MemoryPageHandler::of(QWebEngineProfile* profile) {
    auto* handler = profile->findChild<MemoryPageHandler*>(QString(), Qt::FindDirectChildrenOnly);
    if (handler == nullptr) {
        handler = new MemoryPageHandler(profile);
        profile->installUrlSchemeHandler(kScheme, handler);
    }
    return handler;
}

QUrl MemoryPageHandler::store(const QObject* owner, QByteArray html, QByteArray mimeType) {
    // A new address for every document, so that no cached copy of an earlier page is shown.
    Document& document = m_documents[owner];
    document.path = QStringLiteral("/page/%1").arg(++m_serial);
    document.html = std::move(html);
    document.mimeType = std::move(mimeType);
    QUrl url;
    url.setScheme(kScheme);
    url.setPath(document.path);
    return url;
}

void MemoryPageHandler::forget(const QObject* owner) {
    m_documents.erase(owner);
}

void MemoryPageHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QString path = job->requestUrl().path();
    const auto shown =
        std::find_if(m_documents.begin(), m_documents.end(),
                     [&path](const auto& entry) { return entry.second.path == path; });
    if (shown == m_documents.end()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto* buffer = new QBuffer(job);
    buffer->setData(shown->second.html);
    buffer->open(QIODevice::ReadOnly);
    job->reply(shown->second.mimeType, buffer);
}

void ReportBrowser::registerScheme() {
    QWebEngineUrlScheme scheme(kScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
}

ReportBrowser::ReportBrowser(QWidget* parent) : QWebEngineView(parent) {
    m_handler = MemoryPageHandler::of(page()->profile());
    QWebEngineSettings* settings = page()->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    // Reports have no context menu of their own.
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(this, &QWebEngineView::loadStarted, this, [this] { m_loading = true; });
    connect(this, &QWebEngineView::loadFinished, this, &ReportBrowser::onLoadFinished);
    connect(page(), &QWebEnginePage::pdfPrintingFinished, this,
            [this](const QString& path, bool ok) {
                auto it = m_pdfDone.find(path);
                if (it == m_pdfDone.end())
                    return;
                auto done = std::move(it->second);
                m_pdfDone.erase(it);
                done(ok);
            });
    connect(page(), &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status != QWebEnginePage::NormalTerminationStatus)
                    emit renderProcessGone();
            });
}

ReportBrowser::~ReportBrowser() {
    if (m_handler) {
        m_handler->forget(this);
    }
}

void ReportBrowser::renderPdf(const std::string& path, const PdfPageLayout& layout,
                              std::function<void(bool ok)> done) {
    // Qt takes the paper upright and turns it by the orientation.
    const QSizeF upright(std::min(layout.width, layout.height),
                         std::max(layout.width, layout.height));
    const QPageLayout pageLayout(QPageSize(upright, QPageSize::Millimeter),
                                 layout.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                 QMarginsF(layout.left, layout.top, layout.right, layout.bottom),
                                 QPageLayout::Millimeter);
    const QString file = QString::fromStdString(path);
    m_pdfDone[file] = std::move(done);
    const auto printable = [](double size, double before, double after) {
        return std::max(1, static_cast<int>(std::floor((size - before - after) * kPixelsPerMm)) -
                               kSheetSlackPx);
    };
    const QString script =
        QString::fromLatin1(kFitPagesScript) +
        QStringLiteral("('%1', %2, %3)")
            .arg(QString::fromLatin1(CReportCore::kPrintPageMark).mid(4).chopped(3))
            .arg(printable(layout.width, layout.left, layout.right))
            .arg(printable(layout.height, layout.top, layout.bottom));
    // The script works in a world of its own: the report's scripts cannot disturb it.
    QPointer<QWebEnginePage> target = page();
    page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                          [target, file, pageLayout](const QVariant&) {
                              if (target)
                                  target->printToPdf(file, pageLayout);
                          });
}

void ReportBrowser::loadHtml(std::string html, int codePage) {
    QByteArray mimeType = "text/html";
    const std::string charset = charsetNameOfCodePage(codePage);
    if (!charset.empty()) {
        mimeType += ";charset=" + QByteArray::fromStdString(charset);
    }
    if (!m_handler) {
        m_handler = MemoryPageHandler::of(page()->profile());
    }
    const QUrl url = m_handler->store(
        this, QByteArray(html.data(), static_cast<qsizetype>(html.size())), mimeType);
    m_pendingScroll.reset();
    m_pendingDirection.reset();
    m_loading = true;
    load(url);
}

void ReportBrowser::navigate(const std::string& url) {
    m_pendingScroll.reset();
    m_pendingDirection.reset();
    m_loading = true;
    load(QUrl::fromUserInput(QString::fromStdString(url)));
}

void ReportBrowser::scrollPosition(int& top, int& left) const {
    const QPointF position = page()->scrollPosition();
    top = static_cast<int>(std::lround(position.y()));
    left = static_cast<int>(std::lround(position.x()));
}

void ReportBrowser::setScrollPosition(int top, int left) {
    m_pendingScroll = QPointF(left, top);
    if (!m_loading) {
        applyPending();
    }
}

void ReportBrowser::setDirection(bool rightToLeft) {
    m_pendingDirection = rightToLeft;
    if (!m_loading) {
        applyPending();
    }
}

int ReportBrowser::zoomStep() const {
    const double factor = zoomFactor();
    int best = 2;
    for (int i = 0; i < static_cast<int>(std::size(kZoomFactors)); ++i) {
        if (std::abs(kZoomFactors[i] - factor) < std::abs(kZoomFactors[best] - factor)) {
            best = i;
        }
    }
    return best;
}

void ReportBrowser::setZoomStep(int step) {
    setZoomFactor(kZoomFactors[std::clamp(step, 0, static_cast<int>(std::size(kZoomFactors)) - 1)]);
}

void ReportBrowser::applyPending() {
    QString script;
    if (m_pendingDirection) {
        script += QStringLiteral("document.documentElement.dir='%1';")
                      .arg(*m_pendingDirection ? "rtl" : "ltr");
    }
    if (m_pendingScroll) {
        script += QStringLiteral("window.scrollTo(%1,%2);")
                      .arg(m_pendingScroll->x())
                      .arg(m_pendingScroll->y());
    }
    m_pendingDirection.reset();
    m_pendingScroll.reset();
    if (!script.isEmpty()) {
        page()->runJavaScript(script);
    }
}

void ReportBrowser::onLoadFinished(bool ok) {
    m_loading = false;
    if (ok) {
        applyPending();
    }
    // Scripts run in order, so this one reports after the direction and scroll are applied.
    const QUrl shown = url();
    page()->runJavaScript(QStringLiteral("0"),
                          [this, shown, ok](const QVariant&) { emit documentComplete(shown, ok); });
}

}  // namespace paginor
