#pragma once

#include <string>
#include <vector>

#include "app/browser_control.h"
#include "app/main_frame.h"
#include "app/ui_services.h"

namespace paginor {

// Records every message box and answers the boxes with a choice with a scripted answer.
class RecordingUi : public UiServices {
public:
    MessageAnswer messageBox(const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override {
        messages.push_back(text);
        icons.push_back(icon);
        return buttons == MessageButtons::Ok ? MessageAnswer::Ok : answer;
    }
    void setWaitCursor(bool on) override { waitCursorCalls.push_back(on); }

    std::vector<std::string> messages;
    std::vector<MessageIcon> icons;
    std::vector<bool> waitCursorCalls;
    MessageAnswer answer = MessageAnswer::Yes;
};

// A browser that keeps what it was asked to show.
class FakeBrowser : public BrowserControl {
public:
    void loadHtml(std::string html, int codePage) override {
        shown = std::move(html);
        shownCodePage = codePage;
        ++loads;
    }
    void navigate(const std::string& url) override { navigated.push_back(url); }
    void scrollPosition(int& top, int& left) const override {
        top = scrollTop;
        left = scrollLeft;
    }
    void setScrollPosition(int top, int left) override {
        scrollTop = top;
        scrollLeft = left;
        ++scrollSets;
    }
    void setDirection(bool rightToLeft) override {
        directions.push_back(rightToLeft ? "rtl" : "ltr");
    }
    int zoomStep() const override { return zoom; }
    void setZoomStep(int step) override { zoom = step; }

    std::string shown;
    int shownCodePage = -1;
    int loads = 0;
    std::vector<std::string> navigated;
    int scrollTop = 0;
    int scrollLeft = 0;
    int scrollSets = 0;
    std::vector<std::string> directions;
    int zoom = 2;
};

class FakeWidgets : public FrameWidgets {
public:
    std::string pageFieldText(PageField field) const override {
        return field == PageField::First ? firstField : lastField;
    }
    void setPageFieldText(PageField field, const std::string& text) override {
        (field == PageField::First ? firstField : lastField) = text;
    }
    void selectPageField(PageField field) override { selectedFields.push_back(field); }
    void fillPageList(std::int32_t pageCount) override {
        listCount = pageCount;
        listSelection = -1;
    }
    void selectPageListEntry(std::int32_t index) override { listSelection = index; }
    std::string windowTitle() const override { return title; }
    void setWindowTitle(const std::string& text) override {
        title = text;
        titles.push_back(text);
    }
    std::string chooseReportFile() override { return fileToOpen; }
    std::int32_t leftPaneWidth() const override { return paneWidth; }
    void setProgress(int percent) override { progress.push_back(percent); }

    std::string firstField;
    std::string lastField;
    std::vector<PageField> selectedFields;
    std::int32_t listCount = 0;
    std::int32_t listSelection = -1;
    std::string title = "Paginor";
    std::vector<std::string> titles;
    std::string fileToOpen;
    std::int32_t paneWidth = 60;
    std::vector<int> progress;
};

}  // namespace paginor
