% RANDOM_CASE  A random tensor-product case of numel(minfun) directions: degrees up to maxp,
% clamped knots with at least minfun functions, an nu x nv (x nw) weight array and a point in
% [0, 1] (now and then exactly 1).
function c = random_case (dirs, maxp, minfun)
  c.p = zeros (1, dirs); c.n = zeros (1, dirs); c.U = cell (1, dirs); c.x = zeros (1, dirs);
  for d = 1:dirs
    c.p(d) = floor (rand * (maxp + 1));
    c.n(d) = max (c.p(d) + 1, minfun) + floor (rand * 5);
    c.U{d} = random_curve (c.p(d), c.n(d));
    c.x(d) = rand;
    if (rand < 0.1), c.x(d) = 1; end
  end
  c.w = 0.2 + rand ([c.n, 1]);
end
