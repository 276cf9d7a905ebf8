# Time per call against the number of basis functions per direction (bench/octave_bench.m).
#   gnuplot -e "data='plot.dat'; out='per_call.png'" bench/plot.gp
set terminal pngcairo size 900,560 font ",11"
set output out
set title "Degree 3, one point per call, GNU Octave"
set xlabel "basis functions per direction"
set ylabel "microseconds per call"
set logscale xy
set xtics (8, 16, 32, 64, 128, 256, 512, 1024)
set grid
set key outside below horizontal maxrows 2
set xrange [6:1400]
set yrange [3:30]
plot data using 1:2 with linespoints lw 2 pt 7 title "RatCurveShapeGrad", \
     data using 1:3 with lines dt 2 lw 2 lc rgb "gray40" title "floor, curve outputs", \
     data using 1:4 with linespoints lw 2 pt 9 title "RatSurfShapeGrad", \
     data using 1:5 with lines dt 4 lw 2 lc rgb "gray60" title "floor, surface outputs"
