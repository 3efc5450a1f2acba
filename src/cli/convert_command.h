#pragma once

namespace lorvane {
// lorvane-cli convert --log FILE -o OUT.zlg
int runConvert(int argc, char** argv);
} // namespace lorvane
