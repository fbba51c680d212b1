// The level-2 strategy interface over the spatial matrix. Its operation
// checks the kinds of its arguments and resolves nothing: the relational
// work on the matrix is MatrixResolver's (gridlocator), which this does not
// call.
#pragma once

#include "common/value.hpp"

namespace qv::relationlocator {

class SpatialStrategy {
 public:
  // Returns null for every call whose arguments are, exactly, a record, a
  // record and a list; reads nothing else of them. Otherwise TypeError
  // "Argument '<name>' has incorrect type (expected <kind>, got <kind>)" for
  // the first argument that is of another kind.
  Value resolve(const Value& parsed_instruction, const Value& matrix,
                const Value& dom_candidates) const;
};

}  // namespace qv::relationlocator
