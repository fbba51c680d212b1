#include "strategies/relationlocator.hpp"

namespace qv::relationlocator {

Value SpatialStrategy::resolve(const Value& parsed_instruction, const Value& matrix,
                               const Value& dom_candidates) const {
  if (!parsed_instruction.is_record())
    throw_argument_type("parsed_instruction", "dict", parsed_instruction.kind_name());
  if (!matrix.is_record()) throw_argument_type("matrix", "dict", matrix.kind_name());
  if (!dom_candidates.is_list()) throw_argument_type("dom_candidates", "list", dom_candidates.kind_name());
  return Value();
}

}  // namespace qv::relationlocator
