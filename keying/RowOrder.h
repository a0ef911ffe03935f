#pragma once
// The vertical order in which rows arrive. Targa files keep their rows
// bottom up, PNG and JPEG top down; everything that streams rows (readers,
// writers, the matte refiner) says which, so nobody has to hold a whole
// picture to turn it over. Rows are always left to right.

namespace Kvl {

enum class RowOrder { BottomUp, TopDown };

}  // namespace Kvl
