#pragma once

#include <string>

namespace paginor {

// The embedded web view as the report view uses it. Loads are asynchronous: the control calls
// back its owner's document-complete handler when a load has finished.
class BrowserControl {
public:
    virtual ~BrowserControl() = default;

    // Shows an HTML document from memory, decoded with the Windows code page (0: the document's
    // own charset decides).
    virtual void loadHtml(std::string html, int codePage) = 0;
    virtual void navigate(const std::string& url) = 0;

    // The scroll position of the document shown now.
    virtual void scrollPosition(int& top, int& left) const = 0;
    // Scrolls the document being loaded (or the one shown, when no load runs).
    virtual void setScrollPosition(int top, int left) = 0;
    // Sets the text direction of the document being loaded (or the one shown).
    virtual void setDirection(bool rightToLeft) = 0;

    // Text size as a step 0 (smallest) .. 4 (largest).
    virtual int zoomStep() const = 0;
    // True while a document is being loaded.
    virtual bool loading() const { return false; }
    virtual void setZoomStep(int step) = 0;
};

}  // namespace paginor
