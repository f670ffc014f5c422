# Throughput of the whole road against document size, the add-in beside its floor, natively and
# under Wine, from the tables the benchmarks write (--data).
#   gnuplot -e "native='native.dat'; wine='wine.dat'; out='throughput.png'" bench/throughput.gp
set terminal pngcairo size 760,500 font "DejaVu Sans,10"
set output out
set title "Whole road (open, read to the end, close): add-in beside its floor"
set xlabel "document size (MiB)"
set ylabel "throughput (MB/s, median)"
set logscale x 2
set xtics (1, 4, 16, 64, 256)
set xrange [0.7:370]
set yrange [0:*]
set grid ytics lc rgb "#dddddd"
set key below maxrows 2 box spacing 1.2
set bmargin 7
set style line 1 lc rgb "#1f5fa8" lw 2 pt 7 ps 1.2
set style line 2 lc rgb "#1f5fa8" lw 2 pt 6 ps 1.2 dt 2
set style line 3 lc rgb "#c0501e" lw 2 pt 5 ps 1.2
set style line 4 lc rgb "#c0501e" lw 2 pt 4 ps 1.2 dt 2
plot native using 1:2 with linespoints ls 1 title "add-in, native", \
     native using 1:3 with linespoints ls 2 title "floor, native", \
     wine using 1:2 with linespoints ls 3 title "add-in, Windows build under Wine", \
     wine using 1:3 with linespoints ls 4 title "floor, Windows build under Wine"
