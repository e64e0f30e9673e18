#pragma once

// Numbers stored in a fixed byte order, one byte aligned: a structure made of
// them and of plain bytes has no padding and already holds its wire form, so
// it is copied to and from the network as raw bytes. Each access converts.

#include <boost/endian/arithmetic.hpp>

#include <climits>

namespace endor {

template <class T>
using big = boost::endian::endian_arithmetic<boost::endian::order::big, T, sizeof(T) * CHAR_BIT,
                                             boost::endian::align::no>;

template <class T>
using little = boost::endian::endian_arithmetic<boost::endian::order::little, T, sizeof(T) * CHAR_BIT,
                                                boost::endian::align::no>;

static_assert(sizeof(big<unsigned int>) == sizeof(unsigned int) && alignof(big<unsigned int>) == 1);

} // namespace endor
