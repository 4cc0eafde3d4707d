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

// Lays a document built for printing (its pages begin with the print-page mark) out on sheets of
// the printable area's size, each page beginning a sheet of its own. Print-only styles are made
// to apply and screen-only ones not first, so that each page is measured as it prints. A page
// that fits one sheet at floor or more of its size is scaled down onto it, keeping its aspect
// and never enlarged, and cut off before any further sheet; a longer page is fitted to the
// sheet's width and goes on over as many sheets as it takes. Its boxes placed at fixed spots
// are cut into sheets between them; flowing content is broken by printing, which moves lines
// and table rows whole to the next sheet. Breaks a page asks for inside itself are dropped.
// With markPrefix, the sheet each page begins on carries an empty link to markPrefix and the
// page's index. Answers null when the document holds no marked pages, else the sheets each page
// takes and whether it was laid out: not when all pages would take more than maxSheets.
constexpr char kFitPagesScript[] = R"JS(
(function (mark, width, height, floor, maxSheets, markPrefix) {
  var body = document.body;
  if (!body) return null;
  var otherMedia = /^(screen|tv|projection|handheld|speech|aural|braille|embossed|tty)$/i;
  var printMedia = function (text) {
    if (!text || !/\S/.test(text)) return text;
    return text.split(',').map(function (query) {
      var m = /^\s*(not\s+|only\s+)?([a-z-]+)(.*)$/i.exec(query);
      if (!m || m[2].toLowerCase() === 'and') return query;
      var negated = !!m[1] && m[1].trim().toLowerCase() === 'not';
      var type = m[2].toLowerCase();
      if (type === 'print') return (negated ? 'not ' : '') + 'all' + m[3];
      if (!otherMedia.test(type)) return query;
      return negated ? 'all' : 'not all';
    }).join(', ');
  };
  var readable = function (sheet) {
    try { return sheet.cssRules !== null; } catch (e) { return false; }
  };
  // A style sheet from a file keeps its rules to itself: one with media rules is read and put
  // in its place, its addresses made absolute. Sheets from the web are not waited for.
  Array.prototype.slice.call(document.querySelectorAll('link')).forEach(function (link) {
    if (!/(^|\s)stylesheet(\s|$)/i.test(link.rel) || !/^file:/i.test(link.href) ||
        !link.sheet || readable(link.sheet)) return;
    var text = null;
    try {
      var request = new XMLHttpRequest();
      request.open('GET', link.href, false);
      request.send();
      if (request.status === 200 || request.status === 0) text = request.responseText;
    } catch (e) {}
    if (!text || !/@media/i.test(text) || /@import/i.test(text)) return;
    var base = link.href;
    text = text.replace(/url\(\s*(['"]?)([^'")]*)\1\s*\)/gi, function (all, quote, address) {
      try { return 'url("' + new URL(address, base).href + '")'; } catch (e) { return all; }
    });
    var inlined = document.createElement('style');
    inlined.textContent = text;
    if (link.media) inlined.media = link.media;
    link.parentNode.insertBefore(inlined, link);
    link.parentNode.removeChild(link);
  });
  var rewrite = function (rules) {
    for (var i = 0; i < rules.length; ++i) {
      var rule = rules[i];
      if (rule.media && rule.media.mediaText)
        rule.media.mediaText = printMedia(rule.media.mediaText);
      if (rule.cssRules) rewrite(rule.cssRules);
      if (rule.styleSheet && readable(rule.styleSheet)) rewrite(rule.styleSheet.cssRules);
    }
  };
  Array.prototype.slice.call(document.querySelectorAll('style, link')).forEach(function (e) {
    if (e.media) e.media = printMedia(e.media);
  });
  for (var s = 0; s < document.styleSheets.length; ++s) {
    if (readable(document.styleSheets[s])) rewrite(document.styleSheets[s].cssRules);
  }

  var marks = [];
  var walker = document.createTreeWalker(body, NodeFilter.SHOW_COMMENT);
  while (walker.nextNode()) {
    if (walker.currentNode.data === mark) marks.push(walker.currentNode);
  }
  if (marks.length === 0) return null;
  var ranges = marks.map(function (m, k) {
    var range = document.createRange();
    if (k === 0) range.setStart(body, 0); else range.setStartAfter(m);
    if (k + 1 < marks.length) range.setEndBefore(marks[k + 1]);
    else range.setEnd(body, body.childNodes.length);
    return range;
  });
  var contents = ranges.map(function (range) { return range.extractContents(); });
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
  // A sheet is an inline block, which printing never splits, in a block that carries the
  // break to the next sheet.
  var newSheet = function (before) {
    var holder = document.createElement('div');
    holder.className = 'paginor-sheet paginor-next';
    holder.style.cssText = 'margin:0;padding:0;border:0';
    var sheet = document.createElement('div');
    sheet.style.cssText = 'display:inline-block;vertical-align:top;position:relative;' +
      'overflow:hidden;margin:0;padding:0;border:0;width:' + width + 'px;height:' + height + 'px';
    var page = document.createElement('div');
    page.style.cssText = 'position:relative;display:flow-root;margin:0;padding:0;border:0;' +
      'transform-origin:0 0;width:' + width + 'px';
    sheet.appendChild(page);
    holder.appendChild(sheet);
    body.insertBefore(holder, before);
    return page;
  };
  var pages = contents.map(function (content) {
    var page = newSheet(null);
    page.appendChild(content);
    return page;
  });
  var extents = pages.map(function (page) {
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
  var fits = extents.map(function (e) {
    return e ? Math.min(1, width / e.w, height / e.h) : 1;
  });
  var scales = extents.map(function (e, k) {
    return fits[k] >= floor ? fits[k] : Math.min(1, width / e.w);
  });
  var needed = extents.map(function (e, k) {
    return fits[k] >= floor ? 1 : Math.max(1, Math.ceil(e.h * scales[k] / height));
  });
  var total = function () { return needed.reduce(function (a, b) { return a + b; }, 0); };
  if (total() > maxSheets) return { sheets: needed, printed: false };

  var skipped = /^(STYLE|SCRIPT|LINK|META|TITLE|BASE|NOSCRIPT|TEMPLATE)$/;
  var shown = function (node) {
    return node.nodeType === Node.ELEMENT_NODE && !skipped.test(node.tagName) &&
      getComputedStyle(node).display !== 'none';
  };
  // A page whose content is all boxes placed at fixed spots.
  var placed = function (page) {
    var found = false;
    for (var node = page.firstChild; node; node = node.nextSibling) {
      if (node.nodeType === Node.TEXT_NODE && /\S/.test(node.data)) return false;
      if (!shown(node)) continue;
      var position = getComputedStyle(node).position;
      if (position !== 'absolute' && position !== 'fixed') return false;
      found = true;
    }
    return found;
  };
  var spanOf = function (node, origin) {
    var r = node.getBoundingClientRect();
    var top = r.top, bottom = r.bottom;
    var range = document.createRange();
    range.selectNodeContents(node);
    var rects = range.getClientRects();
    for (var i = 0; i < rects.length; ++i) {
      if (rects[i].width <= 0 && rects[i].height <= 0) continue;
      top = Math.min(top, rects[i].top);
      bottom = Math.max(bottom, rects[i].bottom);
    }
    return { node: node, top: top - origin.top, bottom: bottom - origin.top };
  };
  // Each cut lies as low on its sheet as it can without going through a box; boxes taller
  // than a sheet are cut anyway, so cuts fall between the others.
  var cutsOf = function (boxes, start, end, step) {
    var cuts = [start];
    while (cuts[cuts.length - 1] + step < end - 0.5) {
      var last = cuts[cuts.length - 1];
      var limit = last + step;
      var cut = limit;
      for (;;) {
        var first = null;
        for (var i = 0; i < boxes.length; ++i) {
          var b = boxes[i];
          if (b.bottom - b.top < step && b.top < cut - 0.5 && b.bottom > cut + 0.5 &&
              (first === null || b.top < first))
            first = b.top;
        }
        if (first === null) break;
        if (first <= last + 0.5) { cut = limit; break; }
        cut = first;
      }
      cuts.push(cut);
    }
    return cuts;
  };
  var split = pages.map(function (page, k) {
    if (fits[k] >= floor || !placed(page)) return null;
    var e = extents[k];
    var origin = page.getBoundingClientRect();
    var boxes = [];
    for (var node = page.firstChild; node; node = node.nextSibling) {
      if (shown(node)) boxes.push(spanOf(node, origin));
    }
    var cuts = cutsOf(boxes, e.y, e.y + e.h, height / scales[k]);
    needed[k] = cuts.length;
    return { boxes: boxes, cuts: cuts };
  });
  if (total() > maxSheets) return { sheets: needed, printed: false };

  pages.forEach(function (page, k) {
    var e = extents[k];
    var sheet = page.parentNode;
    var next = sheet.parentNode.nextSibling;
    if (e && fits[k] >= floor) {
      page.style.transform = 'scale(' + fits[k] + ') translate(' + (-e.x) + 'px,' + (-e.y) + 'px)';
    } else if (split[k]) {
      // Each box goes to the sheet its top is on, and a copy to each further one it reaches.
      var cuts = split[k].cuts;
      var parts = [page];
      for (var j = 1; j < cuts.length; ++j) parts.push(newSheet(next));
      split[k].boxes.forEach(function (b) {
        var j = 0;
        while (j + 1 < cuts.length && cuts[j + 1] <= b.top + 0.5) ++j;
        if (j > 0) parts[j].appendChild(b.node);
        for (var m = j + 1; m < cuts.length && b.bottom > cuts[m] + 0.5; ++m)
          parts[m].appendChild(b.node.cloneNode(true));
      });
      parts.forEach(function (part, j) {
        part.style.transform = 'scale(' + scales[k] + ') translate(' + (-e.x) + 'px,' +
          (-cuts[j]) + 'px)';
      });
    } else if (e) {
      // Zoom, unlike a transform, lays the page out at its printed size, so that printing
      // breaks it between lines.
      var scale = scales[k];
      sheet.style.cssText = 'display:flow-root;position:relative;margin:0;padding:0;border:0';
      page.style.cssText = 'position:relative;display:flow-root;padding:0;border:0;' +
        'zoom:' + scale + ';width:' + (width / scale) + 'px;height:' + (e.y + e.h) + 'px;' +
        'margin:' + (-e.y) + 'px 0 0 ' + (-e.x) + 'px';
    }
    if (markPrefix) {
      var link = document.createElement('a');
      link.href = markPrefix + k;
      link.style.cssText = 'position:absolute;left:0;top:0;width:1px;height:1px;' +
        'margin:0;padding:0;border:0';
      sheet.appendChild(link);
    }
  });
  body.lastChild.className = 'paginor-sheet';
  return { sheets: needed, printed: true };
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
                PdfRenderResult result;
                result.ok = ok;
                done(result);
            });
    connect(page(), &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status != QWebEnginePage::NormalTerminationStatus)
                    emit renderProcessGone();
            });
}

ReportBrowser::~ReportBrowser() {
    // The page answers scripts still running as it goes, after this part of the object.
    *m_alive = false;
    if (m_handler) {
        m_handler->forget(this);
    }
}

void ReportBrowser::renderPdf(const std::string& path, const PdfPageLayout& layout,
                              bool markPageStarts,
                              std::function<void(const PdfRenderResult&)> done) {
    // Qt takes the paper upright and turns it by the orientation.
    const QSizeF upright(std::min(layout.width, layout.height),
                         std::max(layout.width, layout.height));
    const QPageLayout pageLayout(QPageSize(upright, QPageSize::Millimeter),
                                 layout.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                 QMarginsF(layout.left, layout.top, layout.right, layout.bottom),
                                 QPageLayout::Millimeter);
    const QString file = QString::fromStdString(path);
    const auto printable = [](double size, double before, double after) {
        return std::max(1, static_cast<int>(std::floor((size - before - after) * kPixelsPerMm)) -
                               kSheetSlackPx);
    };
    const QString script =
        QString::fromLatin1(kFitPagesScript) +
        QStringLiteral("('%1', %2, %3, %4, %5, '%6')")
            .arg(QString::fromLatin1(CReportCore::kPrintPageMark).mid(4).chopped(3))
            .arg(printable(layout.width, layout.left, layout.right))
            .arg(printable(layout.height, layout.top, layout.bottom))
            .arg(kReadableScale)
            .arg(kMaxPrintSheets)
            .arg(markPageStarts ? QString::fromLatin1(kPageStartLink) : QString());
    // The script works in a world of its own: the report's scripts cannot disturb it.
    page()->runJavaScript(
        script, QWebEngineScript::ApplicationWorld,
        [this, alive = m_alive, file, pageLayout,
         done = std::move(done)](const QVariant& laidOut) mutable {
            if (!*alive)
                return;
            const QVariantMap result = laidOut.toMap();
            if (result.contains(QStringLiteral("printed")) &&
                !result.value(QStringLiteral("printed")).toBool()) {
                PdfRenderResult tooLarge;
                for (const QVariant& sheets : result.value(QStringLiteral("sheets")).toList())
                    tooLarge.sheetsNeeded.push_back(sheets.toInt());
                done(tooLarge);
                return;
            }
            m_pdfDone[file] = std::move(done);
            page()->printToPdf(file, pageLayout);
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
    page()->runJavaScript(QStringLiteral("0"), [this, alive = m_alive, shown, ok](const QVariant&) {
        if (*alive)
            emit documentComplete(shown, ok);
    });
}

}  // namespace paginor
