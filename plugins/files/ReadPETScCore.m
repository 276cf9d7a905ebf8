function varargout = ReadPETScCore (varargin)
% READPETSCCORE  The native core of ReadPETSc: arrays from a file of PETSc's binary format.
%
%   [A1, A2, ...] = ReadPETScCore(name)
%
%   What ReadPETSc calls once it has read the file's name: name is the name's UTF-8 bytes as a
%   row of doubles, whole numbers from 1 to 255 (double (unicode2native (filename, 'UTF-8'))).
%   One output an object, from the file's first on.
%
%   Errors: those of ReadPETSc (identifier ReadPETSc:<mnemonic>); a wrong number of inputs
%   raises the usage message.
%
%   See also ReadPETSc, WritePETScCore.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end
