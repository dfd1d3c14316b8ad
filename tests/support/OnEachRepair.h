#pragma once
// What a test does as each repair of a start-up begins (the attempt is counted by then).

#include <utility>

#include "recording/RecordingJournal.h"

namespace tallowen::test {

template <typename F>
class OnEachRepair final : public RepairProgress {
 public:
  explicit OnEachRepair(F f) : f_(std::move(f)) {}
  void mending(const QString& path) override { f_(path); }

 private:
  F f_;
};

}  // namespace tallowen::test
