// The fixed shapes of resolution results shared by the resolvers.
#pragma once

#include <cstdint>

#include "common/value.hpp"

namespace qv::textlocator::result {

// resolved false, confidence 0.0, element null, candidates empty.
inline RecordPtr not_found() {
  return make_record({{U"resolved", false},
                      {U"confidence", 0.0},
                      {U"element", nullptr},
                      {U"candidates", make_list()}});
}

// The verify resolvers' not-found form, with an empty or given state.
inline RecordPtr not_verified(RecordPtr state = make_record()) {
  return make_record({{U"resolved", false},
                      {U"verified", false},
                      {U"confidence", 0.0},
                      {U"element", nullptr},
                      {U"state", std::move(state)},
                      {U"candidates", make_list()}});
}

// The index an ordinal chooses among `count` (> 0) candidates: ordinal - 1,
// at most the last; negative counts from the end; further below than that,
// the first.
std::size_t pick(std::int64_t ordinal, std::size_t count);

}  // namespace qv::textlocator::result
