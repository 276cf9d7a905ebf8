% A quarter of the unit circle as an exact rational quadratic: control points (1,0), (1,1), (0,1)
% with weights 1, 1/sqrt(2), 1. Every point of the curve must lie at radius 1, and its tangent
% must be orthogonal to the radius.
knot = [0 0 0 1 1 1];
weights = [1 1/sqrt(2) 1];
P = [1 0; 1 1; 0 1];

xi = linspace (0, 1, 10001);
radius_error = 0;
tangent_error = 0;
for k = 1:numel (xi)
  [R, dRdxi] = RatCurveShapeGrad (xi(k), 2, knot, weights);
  x = R * P;          % the point, 1x2
  dx = dRdxi * P;     % its tangent
  radius_error = max (radius_error, abs (norm (x) - 1));
  tangent_error = max (tangent_error, abs (x * dx') / norm (dx));
end
printf ('quarter circle, %d points with RatCurveShapeGrad:\n', numel (xi));
printf ('  worst radius error          %.3g\n', radius_error);
printf ('  worst tangent-radius cosine %.3g\n', tangent_error);

% The same curve as two scalar fields, x and y, with RatCurveEvalD2: position, tangent and
% second derivative give the curvature, which is 1 on the unit circle.
curvature_error = 0;
radius_error2 = 0;
for k = 1:numel (xi)
  [x, dx, ddx] = RatCurveEvalD2 (xi(k), 2, knot, P(:,1), weights);
  [y, dy, ddy] = RatCurveEvalD2 (xi(k), 2, knot, P(:,2), weights);
  kappa = abs (dx * ddy - dy * ddx) / hypot (dx, dy)^3;
  radius_error2 = max (radius_error2, abs (hypot (x, y) - 1));
  curvature_error = max (curvature_error, abs (kappa - 1));
end
printf ('quarter circle, %d points with RatCurveEvalD2:\n', numel (xi));
printf ('  worst radius error          %.3g\n', radius_error2);
printf ('  worst curvature error       %.3g\n', curvature_error);
