#pragma once

#include <cstddef>

namespace standin {

// How many dictionaries the code under test has made with CFDictionaryCreate
// in this process.
std::size_t dictionariesCreated();

}  // namespace standin
