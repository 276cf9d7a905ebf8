# Time per point against the number of points per call (bench/octave_batch_bench.m), one panel a
# geometry.
#   gnuplot -e "data='batch.dat'; out='batch.png'" bench/batch.gp
set terminal pngcairo size 1500,560 font ",10"
set output out
set multiplot layout 1,3 title "Many points per call in GNU Octave: time per point (ns), 64 functions a direction"
set logscale xy
set grid
set xlabel "points per call"
set format x "10^{%L}"
set format y "10^{%L}"
set xrange [0.7:1.5e6]
set yrange [1:3e6]
set key top right font ",8" spacing 0.9
titles = "'cubic curve' 'bicubic surface' 'triquadratic volume'"
do for [g = 0:2] {
  set title word(titles, g + 1)
  if (g > 0) { unset key }
  plot data index g using 1:2 with linespoints lw 2 pt 7 title "twin, 1 thread", \
       '' index g using 1:3 with linespoints lw 2 pt 5 title "twin, threads as it comes", \
       '' index g using 1:4 with linespoints lw 1 pt 9 title "loop of one-point calls", \
       '' index g using 1:5 with linespoints lw 1 pt 11 title "nurbs: findspan + basisfunder", \
       '' index g using 1:6 with linespoints lw 1 pt 13 title "nurbs: nrbbasisfun(der)", \
       '' index g using 1:7 with linespoints lw 1 pt 3 title "hand-vectorised on nurbs", \
       '' index g using 1:8 with lines dt 2 lw 2 lc rgb "gray40" title "zeros, outputs' sizes", \
       '' index g using 1:9 with lines dt 4 lw 2 lc rgb "gray60" title "trivial MEX, outputs' sizes"
}
unset multiplot
