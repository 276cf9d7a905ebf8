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
