#include "net/output_scheduler.h"

#include <malloc.h>

#include <algorithm>

#include <boost/asio/post.hpp>

namespace qm {

OutputScheduler::OutputScheduler(boost::asio::io_context& io) : io_(io), trimTimer_(io) {}

SharedBytes OutputScheduler::Share(std::string_view bytes) {
    const SharedBytes shared{roundBytes_.size(), bytes.size()};
    roundBytes_.append(bytes);
    return shared;
}

void OutputScheduler::QueueFlush(std::shared_ptr<FlushTarget> target) {
    flushQueue_.push_back(std::move(target));
    if (flushPosted_) return;
    flushPosted_ = true;
    flushDeadline_ = std::chrono::steady_clock::now() + kMaxFlushDelay;
    inputSinceCheck_ = true;
    FlushWhenQuiet();
}

// Output waits while input keeps arriving (each post goes behind the
// reactor's next poll, so every socket that became ready gets its turn),
// for at most kMaxFlushDelay. An idle server writes at once.
void OutputScheduler::FlushWhenQuiet() {
    if (inputSinceCheck_ && std::chrono::steady_clock::now() < flushDeadline_) {
        inputSinceCheck_ = false;
        boost::asio::post(io_, [this, alive = std::weak_ptr<char>(alive_)] {
            if (!alive.expired()) FlushWhenQuiet();
        });
        return;
    }
    FlushAll();
}

void OutputScheduler::FlushAll() {
    flushPosted_ = false;
    auto queue = std::move(flushQueue_);
    flushQueue_.clear();
    // Walks over the users run from the newest connection to the oldest, so
    // the queue holds them newest first; writing oldest first keeps the
    // connections that waited longest from waiting longer.
    for (auto it = queue.rbegin(); it != queue.rend(); ++it) (*it)->Flush();
    // Every socket that queued shared bytes was in the queue, and each has
    // written them or copied what is left into its own buffer; a flush
    // asked for meanwhile may still refer to them.
    if (flushQueue_.empty()) roundBytes_.clear();
}

void OutputScheduler::TrackUnsent(UnsentOutput& entry, std::size_t bytes) {
    totalUnsent_ = totalUnsent_ - entry.bytes + bytes;
    entry.bytes = bytes;
    if (bytes != 0 && entry.slot == UnsentOutput::kNotHeld) {
        entry.slot = holders_.size();
        holders_.push_back(&entry);
    } else if (bytes == 0 && entry.slot != UnsentOutput::kNotHeld) {
        holders_[entry.slot] = holders_.back();
        holders_[entry.slot]->slot = entry.slot;
        holders_.pop_back();
        entry.slot = UnsentOutput::kNotHeld;
    }
    if (totalUnsent_ > maxTotalOutput_ && !shedding_) ShedLargest();
}

// Rare: only thousands of peers that stopped reading get here, so the search
// over the holders costs nothing that matters. Each turn empties the largest
// entry (written out, or dropped with its connection), so the walk ends.
void OutputScheduler::ShedLargest() {
    shedding_ = true;
    while (totalUnsent_ > maxTotalOutput_ && !holders_.empty()) {
        const auto bySize = [](const UnsentOutput* a, const UnsentOutput* b) { return a->bytes < b->bytes; };
        const auto largest = std::max_element(holders_.begin(), holders_.end(), bySize);
        (*largest)->owner->ShedOutput();
    }
    shedding_ = false;
}

void OutputScheduler::NoteOutputReleased(std::size_t bytes) {
    // A burst of output (a login storm announced to a full channel) leaves
    // the heap at its high-water mark, with the freed buffers scattered
    // between live records. Once a burst is over (nothing released for a
    // quarter of a second), hand that memory back to the system, so that an
    // idle server stays small.
    constexpr std::size_t kBurst = 1 << 20;
    releasedSinceTrim_ += bytes;
    lastRelease_ = std::chrono::steady_clock::now();
    if (releasedSinceTrim_ < kBurst || trimScheduled_) return;
    trimScheduled_ = true;
    ScheduleTrim(kTrimQuiet);
}

void OutputScheduler::ScheduleTrim(std::chrono::steady_clock::duration wait) {
    trimTimer_.expires_after(wait);
    trimTimer_.async_wait([this](boost::system::error_code ec) {
        if (ec) return;
        const auto quiet = std::chrono::steady_clock::now() - lastRelease_;
        if (quiet < kTrimQuiet) {
            ScheduleTrim(kTrimQuiet - quiet);
            return;
        }
        trimScheduled_ = false;
        releasedSinceTrim_ = 0;
        if (roundBytes_.empty()) std::string().swap(roundBytes_);
        ::malloc_trim(0);
    });
}

}  // namespace qm
