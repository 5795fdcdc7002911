// Names parameterised cases after their `name` field.
#pragma once

#include <gtest/gtest.h>

#include <string>

template <class Case>
std::string caseName(const testing::TestParamInfo<Case>& param) {
    return std::string(param.param.name);
}
