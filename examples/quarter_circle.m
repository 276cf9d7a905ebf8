% QUARTER_CIRCLE  A quarter of the unit circle as an exact rational quadratic: control points
% (1,0), (1,1), (0,1) with weights 1, 1/sqrt(2), 1. Every point of the curve must lie at radius 1,
% its tangent must be orthogonal to the radius, and its curvature must be 1. Prints the worst
% deviations and returns them in a struct.
function results = quarter_circle ()
  knot = [0 0 0 1 1 1];
  weights = [1 1/sqrt(2) 1];
  P = [1 0; 1 1; 0 1];
  xi = linspace (0, 1, 10001);

  % The basis with RatCurveShapeGrad, combined with the control points here.
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

  % x and y as two scalar fields with RatCurveEvalD2: position, tangent and second derivative
  % give the curvature.
  field_radius_error = 0;
  curvature_error = 0;
  for k = 1:numel (xi)
    [x, dx, ddx] = RatCurveEvalD2 (xi(k), 2, knot, P(:,1), weights);
    [y, dy, ddy] = RatCurveEvalD2 (xi(k), 2, knot, P(:,2), weights);
    kappa = abs (dx * ddy - dy * ddx) / hypot (dx, dy)^3;
    field_radius_error = max (field_radius_error, abs (hypot (x, y) - 1));
    curvature_error = max (curvature_error, abs (kappa - 1));
  end
  printf ('quarter circle, %d points with RatCurveEvalD2:\n', numel (xi));
  printf ('  worst radius error          %.3g\n', field_radius_error);
  printf ('  worst curvature error       %.3g\n', curvature_error);

  results.radius_error = max (radius_error, field_radius_error);
  results.tangent_error = tangent_error;
  results.curvature_error = curvature_error;
end
