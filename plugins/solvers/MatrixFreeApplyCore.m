function varargout = MatrixFreeApplyCore (varargin)
% MATRIXFREEAPPLYCORE  The native application of MatrixFreeOperator's operator.
%
%   y = MatrixFreeApplyCore(header, sizes, table1, table2, table3, factors, weights, gnum,
%       ... (those 7 of each patch), free, x)
%
%   y = A(free, free) x without A: the form applied by sum factorisation at the quadrature
%   points of every patch, each patch's contribution gathered and summed through its gnum.
%   header = [ndof components]; each patch's first 6 arrays as MatrixFreeSetupCore made them,
%   gnum its functions' global indices ([] for one patch numbered as its own); free the
%   unknowns x holds, 1-based, ascending (component k of function a is (k - 1) ndof + a); x
%   numel (free) x m: m columns at once. Every array is checked on every call: sizes, every
%   index followed (first functions, gnum, free); the factors' values are not (a NaN there
%   gives NaN). Same bits on any number of threads (NURBS_NUM_THREADS caps them); Ctrl-C ends
%   a long call.
%
%   Errors: MatrixFreeOperator:<mnemonic>: notDouble, complex, sparse, optionValue (header),
%   sizes, tableSize, tableValue, factorsSize, weightsSize, numbering, freeList, xSize,
%   tooManyOutputs, outOfMemory; a wrong number of inputs raises the usage message.
%
%   See also MatrixFreeOperator, MatrixFreeSetupCore.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end
