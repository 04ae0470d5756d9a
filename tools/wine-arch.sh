# Sourced by the tools: which Wine this host runs, and so which build the
# end-to-end cases, the demo and the benchmark use. e2e/winearch.py decides
# (QV_WINE_ARCH=win32|win64 overrides) and prints what it chose and why.
# Sets qv_wine_arch (win32|win64), qv_preset (windows|windows-x64),
# qv_build_kind, qv_toolchain (for cmake -S bench) and qv_wine_line (the line printed).
qv_choice=$(python3 "$(dirname "${BASH_SOURCE[0]}")/../e2e/winearch.py" --shell)
eval "$qv_choice"
unset qv_choice
