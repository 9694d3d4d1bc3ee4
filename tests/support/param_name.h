#pragma once
// Names parameterised test rows after their `name` member.

#include <gtest/gtest.h>
#include <string>

namespace quorvex::testing {

struct RowName {
  template <class Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
    return row.param.name;
  }
};

}  // namespace quorvex::testing
