#pragma once

// A batch of pages on its way through a conversion, and what one batch passes on to the next.

#include <cstdint>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "convert/conversion_driver.h"
#include "convert/convert_engine.h"
#include "convert/worker_making.h"

namespace paginor {

// One batch on its way through a conversion: its pages gathered, converted on an engine of its
// own (by a worker thread when several batches are converted at once), then handed to the
// writer. The records point into the engine and the gathered text until the writer took them.
struct BatchSlot {
    BatchSlot() = default;
    BatchSlot(const BatchSlot&) = delete;
    BatchSlot& operator=(const BatchSlot&) = delete;
    ~BatchSlot() { wait(); }
    void wait() {
        if (worker.joinable()) {
            worker.join();
        }
    }

    CConvertEngine engine;
    bool engineReady = false;
    std::int32_t first = 0;
    std::int32_t last = 0;
    std::int32_t ordinal = 0;  // of the batches converted at once, 0 the first
    FirstRowLayout layout;  // the batch's first page, as the batch was cut
    // The state the batch was gathered and converted from, and what the engine left of it.
    std::uint8_t useFirstPage = 0;
    bool frameEngineAllowed = true;
    std::uint8_t driverFlag = 0;
    std::vector<char> buffer;
    std::int64_t batchLength = 0;
    std::vector<std::int64_t> pageOffsets;
    std::vector<std::int32_t> pageList;
    bool firstPrepended = false;
    bool lastAppended = false;
    std::vector<tagOutputPageInfo> outputPages;
    tagOutputBatchInfo batchInfo;
    std::string steps;  // the engine's steps when a worker converted the batch
    // What a worker made of the batch for the writer.
    MadeOutput made;
    const void* output = nullptr;
    std::int64_t textLength = 0;
    std::int32_t columns = 0;
    std::int32_t records = 0;
    std::exception_ptr failure;
    bool cancelled = false;
    std::thread worker;
};

// What a batch passes on to the next one.
struct CarriedState {
    std::uint8_t useFirstPage = 0;
    bool frameEngineAllowed = true;
};

}  // namespace paginor
