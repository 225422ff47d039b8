# The benchmark's chart, drawn from report.py's chart.dat:
#   gnuplot -e "data='chart.dat'; output='performance.svg'" chart.gp
# Blocks of chart.dat: 0 install times, 1 peak memory, 2 small files
# (install, uninstall), 3 builder times.
set terminal svg size 1100,800 font "sans,11" background "white"
set output output
set multiplot layout 2,2 title "Medians of the rounds of one bench/run.sh run"
set style fill solid 0.8 border -1
set boxwidth 0.6
set grid ytics
set yrange [0:*]
set xtics rotate by -25 nomirror
set key top left

set title "Standard payload: install and uninstall"
set ylabel "wall time, s"
plot data index 0 using 0:2:xtic(1) with boxes lc rgb "#4472c4" notitle, \
     '' index 0 using 0:2:(sprintf("%.1f", $2)) with labels offset 0,0.7 notitle

set title "Peak resident memory"
set ylabel "MiB (logarithmic)"
set logscale y
stats data index 1 using 2 nooutput
set yrange [10:(STATS_max > 64 ? STATS_max : 64) * 3]
plot data index 1 using 0:2:xtic(1) with boxes lc rgb "#70ad47" notitle, \
     '' index 1 using 0:2:(sprintf("%.0f", $2)) with labels offset 0,0.7 notitle, \
     64 with lines lw 2 lc rgb "#c00000" title "goal for setup.exe: 64 MiB"

unset logscale y
set yrange [0:*]
set title "Many small files"
set ylabel "wall time, s"
set style data histograms
set style histogram clustered gap 1
set boxwidth 0.9
plot data index 2 using 2:xtic(1) lc rgb "#4472c4" title "install", \
     '' index 2 using 3 lc rgb "#ed7d31" title "uninstall"

set title "Building the package from the standard payload"
set ylabel "wall time, s"
set style data boxes
set boxwidth 0.6
plot data index 3 using 0:2:xtic(1) with boxes lc rgb "#7f6084" notitle, \
     '' index 3 using 0:2:(sprintf("%.1f", $2)) with labels offset 0,0.7 notitle

unset multiplot
